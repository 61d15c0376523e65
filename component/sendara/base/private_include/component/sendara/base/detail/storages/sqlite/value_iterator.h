#pragma once

#include <cstdint>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/i_value_storage.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"

namespace sendara::base::storages {

// Reads the rows with ids from `firstId` to `lastId` in ascending order. It
// holds the database handle until it is destroyed. When the file is repaired
// meanwhile, by this iterator on finding a damaged page or by anybody else,
// it goes on in the rebuilt file after the last row it handed out: rows
// carried over keep their ids.
class ValueIterator final : public IRowCursor<IValueStorage::Line> {
 public:
  ValueIterator(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<SqliteConnection> connection, SqliteHandle handle,
                std::int64_t firstId, std::int64_t lastId);
  ~ValueIterator() override;

  bool Next() override;
  const IValueStorage::Line& Current() const override;
  void SwapCurrent(IValueStorage::Line& row) override;

 private:
  // Prepares the query from m_nextId on `handle`.
  void Prepare(SqliteHandle handle);
  void Release() noexcept;
  // SQLITE_OK with the row in m_current, or why it cannot be read.
  int ReadRow();

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<SqliteConnection> m_connection;
  std::uint64_t m_generation;
  SqliteHandle m_handle;
  sqlite3_stmt* m_statement = nullptr;
  std::int64_t m_nextId;
  const std::int64_t m_lastId;
  IValueStorage::Line m_current;
  bool m_onRow = false;
};

}  // namespace sendara::base::storages
