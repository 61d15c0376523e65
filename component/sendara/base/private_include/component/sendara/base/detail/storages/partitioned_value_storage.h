#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/storages/base_iterator.h"
#include "component/sendara/base/detail/storages/partition_manager.h"
#include "component/sendara/base/detail/storages/partitioned_id.h"

namespace sendara::base::storages {

// Size in bytes of a partition limit given in mebibytes, in 64 bits: 4096
// MiB and more must not wrap.
constexpr std::uint64_t PartitionSizeBytes(std::uint32_t mebibytes) noexcept {
  return static_cast<std::uint64_t>(mebibytes) << 20;
}

// The store of unsent events, split into numbered partition files. Rows go
// to the newest (active) partition; a partition past the size limit is
// closed and a new one started; beyond the count limit the oldest are
// removed; partitions emptied by deletions are removed, oldest first.
class PartitionedValueStorage {
 public:
  using Iterator = BaseIterator<PartitionedRow>;

  PartitionedValueStorage(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<PartitionManager> partitionManager,
                          std::uint64_t maxPartitionSize, std::uint32_t maxPartitionCount,
                          std::uint32_t removeCount);
  virtual ~PartitionedValueStorage() = default;

  // Over the partitions that exist now, oldest first. While it sits in a
  // partition, that partition is in use.
  virtual Iterator CreateIterator() EXCLUDES(m_mutex);
  // All values into the active partition, all or none.
  virtual void Insert(std::span<const std::string> values) EXCLUDES(m_mutex);
  // Rows that were handed over. Rows the file refuses to delete (a full
  // disk) are kept out of every iterator made from then on, and deleted
  // with the next call that gets through, so that they are not sent again
  // while this object lives; the failure is traced, not raised.
  virtual void DeleteByIds(std::span<const PartitionedId> ids) EXCLUDES(m_mutex);
  virtual void Clear() EXCLUDES(m_mutex);
  // New limits, applied from the next insert on.
  void SetLimits(std::uint64_t maxPartitionSize, std::uint32_t maxPartitionCount, std::uint32_t removeCount)
      EXCLUDES(m_mutex);

  // Rows lost so far: beyond reading in a damaged file, or unreadable as
  // read and counted by the reader.
  std::uint64_t LostRows() const noexcept { return m_partitionManager->LostRows(); }
  void CountLostRows(std::uint64_t count) noexcept { m_partitionManager->CountLostRows(count); }
  // The count behind LostRows, for a reader that outlives the store.
  std::shared_ptr<const std::atomic<std::uint64_t>> LostRowsCounter() const noexcept {
    return m_partitionManager->LostRowsCounter();
  }

  Iterator begin() {
    Iterator it = CreateIterator();
    it.Next();
    return it;
  }
  Iterator end() { return {}; }

 private:
  using IdSet = std::set<PartitionedId>;

  std::shared_ptr<IValueStorage> UpdatePartitions() EXCLUDES(m_mutex);
  void RemoveEmptyPartitions() EXCLUDES(m_mutex);
  // A removed partition's number may come back: its undeleted ids must go.
  void ForgetUndeleted(std::uint64_t partitionId) REQUIRES(m_mutex);
  // The rows in a partition; 0 when it cannot be read.
  std::uint64_t RowsIn(std::uint64_t id) REQUIRES(m_mutex);
  // A new partition, opened; raises, with nothing listed, when it cannot be.
  std::pair<std::uint64_t, std::shared_ptr<IValueStorage>> CreatePartition() REQUIRES(m_mutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<PartitionManager> m_partitionManager;
  // Taken before the partition manager's: the list of partitions and the
  // manager's map change together.
  platform::Mutex m_mutex ACQUIRED_BEFORE(m_partitionManager->m_mutex);
  std::deque<std::uint64_t> m_partitionIds GUARDED_BY(m_mutex);
  std::uint32_t m_maxPartitionCount GUARDED_BY(m_mutex);
  std::uint32_t m_removeCount GUARDED_BY(m_mutex);
  std::uint64_t m_maxPartitionSize GUARDED_BY(m_mutex);
  // Handed over but not yet deleted; replaced, never changed, so that an
  // iterator can keep the set it was made with. Null when empty.
  std::shared_ptr<const IdSet> m_undeleted GUARDED_BY(m_mutex);
};

// The store under <baseDirectory>/queues with files "telemetry-<id>.db",
// shared by every user of that folder in the process (see
// PersistentStorageRegistry).
std::shared_ptr<PartitionedValueStorage> CreatePersistentStorage(const std::filesystem::path& baseDirectory,
                                                                 oru::RefPtr<oru::ITracer> tracer,
                                                                 SensitiveDataTracePolicy policy,
                                                                 std::uint64_t maxPartitionSizeBytes,
                                                                 std::uint32_t maxPartitionCount,
                                                                 std::uint32_t removeCount);

}  // namespace sendara::base::storages
