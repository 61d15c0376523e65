#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/storages/sqlite/i_sqlite_scheme.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_query_executor.h"

namespace sendara::base::storages {

// One database file, opened on first use and shared by its users. A damaged
// file is repaired by carrying the rows that can still be read over into a
// new file, under the same ids, which then takes its place; a file that
// cannot be opened at all is deleted (with its "-wal" and "-shm" files) and
// an empty one started.
class SqliteConnection {
 public:
  // Told how many rows a repair could not carry over.
  using RowsLostHandler = std::function<void(std::uint64_t)>;

  SqliteConnection(oru::RefPtr<oru::ITracer> tracer, std::filesystem::path path,
                   std::shared_ptr<SqliteQueryExecutor> executor, std::shared_ptr<ISqliteScheme> scheme,
                   RowsLostHandler rowsLost = {});
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  virtual ~SqliteConnection();

  // The open handle; opens and prepares the file first when needed, and
  // repairs it once when it is corrupt.
  virtual SqliteHandle GetConnection() EXCLUDES(m_mutex);
  // Carries what can be read over into a new file, closes the database (at
  // once, even while others hold the handle) and puts the new file in its
  // place; without an open database, or when nothing can be carried over,
  // deletes its files, and the next GetConnection starts an empty one.
  virtual void RepairConnection() EXCLUDES(m_mutex);

  // A statement of `handle` for `sql`, prepared once and kept from call to
  // call (preparing one costs more than running the short statements of a
  // drain); out of the cache until handed back, so that no two threads
  // share one. Raises as SqliteQueryExecutor::ExecuteQuery.
  sqlite3_stmt* TakeStatement(const SqliteHandle& handle, const char* sql) EXCLUDES(m_mutex);
  // Kept for the next TakeStatement while its handle is the open one;
  // finalised otherwise.
  void ReturnStatement(sqlite3_stmt* statement) noexcept EXCLUDES(m_mutex);

  const std::filesystem::path& Path() const noexcept { return m_path; }
  // Changes with every repair: statements of the old handle must not be
  // used any more. Rows carried over keep their ids.
  std::uint64_t Generation() const noexcept { return m_generation.load(std::memory_order_acquire); }

 private:
  SqliteHandle OpenLocked() REQUIRES(m_mutex);
  // Opens and prepares `path`; `closed` tells the handle's deleter that a
  // repair closed it already.
  SqliteHandle Open(const std::filesystem::path& path, std::shared_ptr<std::atomic<bool>> closed);
  void DropHandleLocked() REQUIRES(m_mutex);
  // Finalises the kept statements, so that their handle can close.
  void FinalizeIdleLocked() noexcept REQUIRES(m_mutex);
  static void DeleteFiles(const std::filesystem::path& path);
  // The rebuilt file with what `damaged` can still give, and how many rows
  // it could not; an empty path when nothing could be carried over.
  std::filesystem::path SalvageLocked(const SqliteHandle& damaged, std::uint64_t& lostRows) REQUIRES(m_mutex);
  // Replaces the file with the rebuilt one (none deletes it), then tells of
  // the `lostRows` it lacks.
  void ReplaceLocked(const std::filesystem::path& rebuilt, std::uint64_t lostRows) REQUIRES(m_mutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  // Last in the storages' lock order: taken under the partitioned storage's
  // mutex (a partition's size, its first row), and nothing under it takes
  // another of ours.
  platform::Mutex m_mutex;
  SqliteHandle m_handle GUARDED_BY(m_mutex);
  // Whether m_handle was closed already; shared with its deleter.
  std::shared_ptr<std::atomic<bool>> m_handleClosed GUARDED_BY(m_mutex);
  // Statements of m_handle not in use, reset and unbound.
  std::vector<sqlite3_stmt*> m_idleStatements GUARDED_BY(m_mutex);
  std::atomic<std::uint64_t> m_generation{0};
  const std::filesystem::path m_path;
  const std::shared_ptr<SqliteQueryExecutor> m_executor;
  const std::shared_ptr<ISqliteScheme> m_scheme;
  const RowsLostHandler m_rowsLost;
};

}  // namespace sendara::base::storages
