#include "component/sendara/base/detail/storages/partitioned_value_storage.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "component/oru/exception_to_result.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/persistent_storage_registry.h"

namespace sendara::base::storages {
namespace {

// Walks a fixed list of partitions, holding the storage of the one it is in,
// past the rows handed over already.
class PartitionedCursor final : public IRowCursor<PartitionedRow> {
 public:
  PartitionedCursor(std::shared_ptr<PartitionManager> manager, std::deque<std::uint64_t> ids,
                    std::shared_ptr<const std::set<PartitionedId>> skipped)
      : m_manager(std::move(manager)), m_ids(std::move(ids)), m_skipped(std::move(skipped)) {}

  bool Next() override {
    m_onRow = false;
    for (;;) {
      if (m_rows.Next()) {
        const PartitionedId id{m_partitionId, m_rows.Current().id};
        if (m_skipped && m_skipped->contains(id)) continue;
        // Taken, not copied: the partition's cursor reads the next row into
        // the buffer this row leaves behind.
        m_rows.SwapCurrent(m_line);
        m_current.id = id;
        m_current.value.swap(m_line.value);
        m_onRow = true;
        return true;
      }
      // Let go of the exhausted partition before moving on: it may be removed.
      m_rows = {};
      m_storage.reset();
      if (m_ids.empty()) return false;
      m_partitionId = m_ids.front();
      m_ids.pop_front();
      m_storage = m_manager->GetStorage(m_partitionId);  // gone since: skipped
      if (m_storage) m_rows = m_storage->CreateIterator();
    }
  }

  const PartitionedRow& Current() const override {
    SENDARA_CHECK(m_onRow, internal_exception, oru::rc::InvalidState, "invalid state");
    return m_current;
  }

  void SwapCurrent(PartitionedRow& row) override {
    SENDARA_CHECK(m_onRow, internal_exception, oru::rc::InvalidState, "invalid state");
    std::swap(m_current, row);
    m_onRow = false;
  }

 private:
  const std::shared_ptr<PartitionManager> m_manager;
  std::deque<std::uint64_t> m_ids;
  const std::shared_ptr<const std::set<PartitionedId>> m_skipped;
  std::uint64_t m_partitionId = 0;
  std::shared_ptr<IValueStorage> m_storage;
  IValueStorage::Iterator m_rows;
  // The buffers that rows pass through on their way out.
  IValueStorage::Line m_line;
  PartitionedRow m_current;
  bool m_onRow = false;
};

}  // namespace

PartitionedValueStorage::PartitionedValueStorage(oru::RefPtr<oru::ITracer> tracer,
                                                 std::shared_ptr<PartitionManager> partitionManager,
                                                 std::uint64_t maxPartitionSize, std::uint32_t maxPartitionCount,
                                                 std::uint32_t removeCount)
    : m_tracer(std::move(tracer)),
      m_partitionManager(std::move(partitionManager)),
      m_maxPartitionCount(maxPartitionCount),
      m_removeCount(removeCount),
      m_maxPartitionSize(maxPartitionSize) {
  SENDARA_CONTRACT(m_partitionManager != nullptr, "partition manager");
  const std::vector<std::uint64_t> ids = m_partitionManager->LoadPartitions();
  m_partitionIds.assign(ids.begin(), ids.end());
}

PartitionedValueStorage::Iterator PartitionedValueStorage::CreateIterator() {
  std::deque<std::uint64_t> ids;
  std::shared_ptr<const IdSet> skipped;
  {
    platform::MutexLock lock(&m_mutex);
    ids = m_partitionIds;
    skipped = m_undeleted;
  }
  return Iterator(std::make_unique<PartitionedCursor>(m_partitionManager, std::move(ids), std::move(skipped)));
}

void PartitionedValueStorage::SetLimits(std::uint64_t maxPartitionSize, std::uint32_t maxPartitionCount,
                                        std::uint32_t removeCount) {
  platform::MutexLock lock(&m_mutex);
  m_maxPartitionSize = maxPartitionSize;
  m_maxPartitionCount = maxPartitionCount;
  m_removeCount = removeCount;
}

void PartitionedValueStorage::Insert(std::span<const std::string> values) {
  if (values.empty()) return;
  const std::shared_ptr<IValueStorage> active = UpdatePartitions();
  SENDARA_CHECK(active != nullptr, internal_exception, oru::rc::NotFound, "can't get active partition storage");
  active->Insert(values);
}

std::shared_ptr<IValueStorage> PartitionedValueStorage::UpdatePartitions() {
  // Ours, then the partition manager's in its calls below: the list of
  // partitions changes with the manager's map.
  platform::MutexLock lock(&m_mutex);
  if (!m_partitionIds.empty()) {
    std::shared_ptr<IValueStorage> active = m_partitionManager->GetStorage(m_partitionIds.back());
    if (active && active->GetSize() >= m_maxPartitionSize) {
      active.reset();  // held here, it would count as in use
      if (m_partitionIds.size() > 1) m_partitionManager->ClosePartition(m_partitionIds.back());
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "active partition exceeded the size limit, create new partition");
      // Opened before it is listed, so that one that cannot be opened (a
      // full disk) leaves the list as it was.
      m_partitionIds.push_back(CreatePartition().first);
    }
  }

  if (m_partitionIds.size() > m_maxPartitionCount) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "number of partitions exceeded the limit, try to remove oldest ones");
    // The active partition is never removed here.
    const std::size_t count = std::min<std::size_t>(m_partitionIds.size() - 1, m_removeCount);
    std::vector<std::uint64_t> failed;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t id = m_partitionIds.front();
      m_partitionIds.pop_front();
      // Its rows are lost with it: counted, so that the loss is not silent.
      const std::uint64_t rows = RowsIn(id);
      if (!m_partitionManager->TryToRemovePartition(id)) {
        SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "failed to remove partition " << id);
        failed.push_back(id);
      } else {
        ForgetUndeleted(id);
        if (rows > 0) {
          SENDARA_TRACE(m_tracer, TraceLevel::kError,
                        "the spool is full: partition " << id << " removed with its " << rows << " events");
          m_partitionManager->CountLostRows(rows);
        }
      }
    }
    m_partitionIds.insert(m_partitionIds.begin(), failed.begin(), failed.end());
  }

  if (m_partitionIds.empty()) {
    auto [id, storage] = CreatePartition();
    m_partitionIds.push_back(id);
    return storage;
  }
  return m_partitionManager->GetStorage(m_partitionIds.back());
}

std::uint64_t PartitionedValueStorage::RowsIn(std::uint64_t id) {
  try {
    const std::shared_ptr<IValueStorage> partition = m_partitionManager->GetStorage(id);
    return partition ? partition->Count() : 0;
  } catch (...) {
    // A file that cannot be read says nothing of its rows.
    return 0;
  }
}

std::pair<std::uint64_t, std::shared_ptr<IValueStorage>> PartitionedValueStorage::CreatePartition() {
  const std::uint64_t id = m_partitionManager->CreateNewPartition();
  try {
    std::shared_ptr<IValueStorage> storage = m_partitionManager->GetStorage(id);
    SENDARA_CHECK(storage != nullptr, internal_exception, oru::rc::NotFound, "can't open the new partition");
    return {id, std::move(storage)};
  } catch (...) {
    // Never listed: a partition whose file could not be opened would fail
    // every later read of the store.
    m_partitionManager->TryToRemovePartition(id);
    throw;
  }
}

void PartitionedValueStorage::DeleteByIds(std::span<const PartitionedId> ids) {
  std::shared_ptr<const IdSet> undeleted;
  {
    platform::MutexLock lock(&m_mutex);
    undeleted = m_undeleted;
  }
  // Rows left over from a failed call go with these.
  std::map<std::uint64_t, std::vector<std::int64_t>> byPartition;
  if (undeleted) {
    for (const PartitionedId& id : *undeleted) byPartition[id.partitionId].push_back(id.id);
  }
  for (const PartitionedId& id : ids) byPartition[id.partitionId].push_back(id.id);

  IdSet failed;
  for (const auto& [partitionId, rowIds] : byPartition) {
    const std::shared_ptr<IValueStorage> storage = m_partitionManager->GetStorage(partitionId);
    if (!storage) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "can't delete " << rowIds.size() << " ids from partition #" << partitionId);
      continue;
    }
    try {
      storage->DeleteByIds(rowIds);
    } catch (...) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError,
                    "can't delete " << rowIds.size() << " sent rows from partition #" << partitionId
                                    << ", they are not read again until deleted: "
                                    << oru::DescribeCurrentException());
      for (const std::int64_t id : rowIds) failed.insert(PartitionedId{partitionId, id});
    }
  }
  {
    platform::MutexLock lock(&m_mutex);
    // What another call added meanwhile stays; what this one retried goes
    // unless it failed again.
    IdSet next = m_undeleted ? *m_undeleted : IdSet{};
    if (undeleted) {
      for (const PartitionedId& id : *undeleted) next.erase(id);
    }
    next.insert(failed.begin(), failed.end());
    m_undeleted = next.empty() ? nullptr : std::make_shared<const IdSet>(std::move(next));
  }
  RemoveEmptyPartitions();
}

void PartitionedValueStorage::ForgetUndeleted(std::uint64_t partitionId) {
  if (!m_undeleted) return;
  IdSet next = *m_undeleted;
  std::erase_if(next, [partitionId](const PartitionedId& id) { return id.partitionId == partitionId; });
  if (next.size() != m_undeleted->size()) {
    m_undeleted = next.empty() ? nullptr : std::make_shared<const IdSet>(std::move(next));
  }
}

void PartitionedValueStorage::RemoveEmptyPartitions() {
  // Ours, then the partition manager's in its calls below: the list of
  // partitions changes with the manager's map.
  platform::MutexLock lock(&m_mutex);
  while (!m_partitionIds.empty()) {
    const std::uint64_t id = m_partitionIds.front();
    bool empty;
    {
      const std::shared_ptr<IValueStorage> storage = m_partitionManager->GetStorage(id);
      empty = !storage || !storage->GetFront();
    }
    if (!empty) break;
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "partition is empty, try to remove it; id: " << id);
    if (!m_partitionManager->TryToRemovePartition(id)) break;
    ForgetUndeleted(id);
    m_partitionIds.pop_front();
  }
}

void PartitionedValueStorage::Clear() {
  // Ours, then the partition manager's in its calls below: the list of
  // partitions changes with the manager's map.
  platform::MutexLock lock(&m_mutex);
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "begin clear, partitions count = " << m_partitionIds.size());
  std::deque<std::uint64_t> kept;
  for (const std::uint64_t id : m_partitionIds) {
    if (m_partitionManager->TryToRemovePartition(id)) {
      ForgetUndeleted(id);
      continue;
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "failed to remove partition, start clear it; id: " << id);
    if (const std::shared_ptr<IValueStorage> storage = m_partitionManager->GetStorage(id)) storage->Clear();
    kept.push_back(id);
  }
  m_partitionIds = std::move(kept);
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end clear, partitions count = " << m_partitionIds.size());
}

std::shared_ptr<PartitionedValueStorage> CreatePersistentStorage(const std::filesystem::path& baseDirectory,
                                                                 oru::RefPtr<oru::ITracer> tracer,
                                                                 SensitiveDataTracePolicy policy,
                                                                 std::uint64_t maxPartitionSizeBytes,
                                                                 std::uint32_t maxPartitionCount,
                                                                 std::uint32_t removeCount) {
  return PersistentStorageRegistry::Open(baseDirectory, std::move(tracer), std::move(policy), maxPartitionSizeBytes,
                                         maxPartitionCount, removeCount);
}

}  // namespace sendara::base::storages
