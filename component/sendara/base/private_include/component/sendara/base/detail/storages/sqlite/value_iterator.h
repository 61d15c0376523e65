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
// holds the database handle until it is destroyed, and ends early when the
// connection is repaired meanwhile: the ids it would hand out belong to the
// deleted file.
class ValueIterator final : public IRowCursor<IValueStorage::Line> {
 public:
  ValueIterator(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<SqliteConnection> connection, SqliteHandle handle,
                std::int64_t firstId, std::int64_t lastId);
  ~ValueIterator() override;

  bool Next() override;
  const IValueStorage::Line& Current() const override;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<SqliteConnection> m_connection;
  const std::uint64_t m_generation;
  const SqliteHandle m_handle;
  sqlite3_stmt* m_statement = nullptr;
  IValueStorage::Line m_current;
  bool m_onRow = false;
};

}  // namespace sendara::base::storages
