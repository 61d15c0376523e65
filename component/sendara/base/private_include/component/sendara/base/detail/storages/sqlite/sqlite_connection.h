#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/sqlite/i_sqlite_scheme.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_query_executor.h"

namespace sendara::base::storages {

// One database file, opened on first use and shared by its users. A corrupt
// file is repaired by deleting it (with its "-wal" and "-shm" files) and
// starting an empty one.
class SqliteConnection {
 public:
  SqliteConnection(oru::RefPtr<oru::ITracer> tracer, std::filesystem::path path,
                   std::shared_ptr<SqliteQueryExecutor> executor, std::shared_ptr<ISqliteScheme> scheme);
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  virtual ~SqliteConnection() = default;

  // The open handle; opens and prepares the file first when needed, and
  // repairs it once when it is corrupt.
  virtual SqliteHandle GetConnection();
  // Closes the database (at once, even while others hold the handle) and
  // deletes its files; the next GetConnection starts an empty database.
  virtual void RepairConnection();

  const std::filesystem::path& Path() const noexcept { return m_path; }
  // Changes with every repair: row ids read before it belong to a file that
  // is gone, and may name other rows in the new one.
  std::uint64_t Generation() const noexcept { return m_generation.load(std::memory_order_acquire); }

 private:
  SqliteHandle OpenLocked();
  void DropHandleLocked();
  void DeleteFiles();

  const oru::RefPtr<oru::ITracer> m_tracer;
  std::mutex m_mutex;
  SqliteHandle m_handle;
  // Whether m_handle was closed already; shared with its deleter.
  std::shared_ptr<std::atomic<bool>> m_handleClosed;
  std::atomic<std::uint64_t> m_generation{0};
  const std::filesystem::path m_path;
  const std::shared_ptr<SqliteQueryExecutor> m_executor;
  const std::shared_ptr<ISqliteScheme> m_scheme;
};

}  // namespace sendara::base::storages
