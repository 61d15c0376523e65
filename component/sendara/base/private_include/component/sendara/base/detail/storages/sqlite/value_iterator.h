#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/i_value_storage.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"

namespace sendara::base::storages {

// Reads the rows with ids from `firstId` to `lastId` in ascending order.
//
// Rows are read a batch at a time, and between batches the iterator holds
// nothing of the database: no handle, no statement, no read. A drain sends
// a package between two rows, and a file kept open all that while could be
// neither checkpointed nor, on a system that deletes no open file, replaced
// by a repair. When the file is repaired meanwhile, by this iterator on
// finding a damaged page or by anybody else, it goes on in the rebuilt file
// after the last row it read: rows carried over keep their ids.
class ValueIterator final : public IRowCursor<IValueStorage::Line> {
 public:
  // At most this many rows, or the first row that reaches this many bytes
  // of values, make a batch.
  static constexpr std::size_t kBatchRows = 64;
  static constexpr std::size_t kBatchBytes = std::size_t{1} << 20;

  ValueIterator(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<SqliteConnection> connection,
                std::int64_t firstId, std::int64_t lastId);

  bool Next() override;
  const IValueStorage::Line& Current() const override;
  void SwapCurrent(IValueStorage::Line& row) override;

 private:
  // Reads the next batch from m_nextId; repairs a damaged file once.
  void Refill();
  // Reads rows into the batch; SQLITE_OK, or why the next one cannot be
  // read (the rows before it stay in the batch).
  int ReadBatch();

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<SqliteConnection> m_connection;
  std::uint64_t m_generation;
  std::int64_t m_nextId;
  const std::int64_t m_lastId;
  // No row is left up to m_lastId.
  bool m_exhausted = false;
  // The batch: m_filled rows read, the first m_taken of them handed out.
  // Entries are kept and reused, with their buffers, from batch to batch.
  std::vector<IValueStorage::Line> m_batch;
  std::size_t m_filled = 0;
  std::size_t m_taken = 0;
  IValueStorage::Line m_current;
  bool m_onRow = false;
};

}  // namespace sendara::base::storages
