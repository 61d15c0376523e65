#include "component/sendara/base/detail/storages/partition_manager.h"

#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base::storages {

PartitionManager::PartitionManager(oru::RefPtr<oru::ITracer> tracer,
                                   std::shared_ptr<PartitionStorageManager> storageManager)
    : m_tracer(std::move(tracer)), m_storageManager(std::move(storageManager)) {
  SENDARA_CONTRACT(m_storageManager != nullptr, "storage manager");
}

std::vector<std::uint64_t> PartitionManager::LoadPartitions() {
  std::vector<std::uint64_t> ids = m_storageManager->ListPartitions();
  platform::MutexLock lock(&m_mutex);
  for (const std::uint64_t id : ids) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "partition " << id);
    m_partitions.emplace(id, nullptr);
  }
  if (!ids.empty()) m_nextId = ids.back() + 1;
  return ids;
}

std::uint64_t PartitionManager::CreateNewPartition() {
  platform::MutexLock lock(&m_mutex);
  const std::uint64_t id = m_nextId;
  // Numbering never wraps onto a partition that still exists.
  SENDARA_CHECK(m_partitions.emplace(id, nullptr).second, internal_exception, oru::rc::OutOfRange,
                "partition numbering exhausted");
  ++m_nextId;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "created new partition " << id);
  return id;
}

bool PartitionManager::IsUnusedLocked(std::uint64_t id, const std::shared_ptr<IValueStorage>& storage) const {
  const long count = storage.use_count();
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "partition id: " << id << ", use count: " << count);
  if (count < 2) return true;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "partition is used by someone, can't update it; id: " << id);
  return false;
}

std::shared_ptr<IValueStorage> PartitionManager::GetStorage(std::uint64_t id) {
  platform::MutexLock lock(&m_mutex);
  const auto it = m_partitions.find(id);
  if (it == m_partitions.end()) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "partition not found, id: " << id);
    return nullptr;
  }
  if (!it->second) it->second = m_storageManager->GetStorage(id);
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "partition id: " << id << ", use count: " << it->second.use_count());
  return it->second;
}

void PartitionManager::ClosePartition(std::uint64_t id) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, id);
  platform::MutexLock lock(&m_mutex);
  const auto it = m_partitions.find(id);
  if (it == m_partitions.end()) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "partition not found, id: " << id);
    return;
  }
  // The database closes when its last holder lets go.
  if (it->second && IsUnusedLocked(id, it->second)) it->second.reset();
}

bool PartitionManager::TryToRemovePartition(std::uint64_t id) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, id);
  {
    platform::MutexLock lock(&m_mutex);
    const auto it = m_partitions.find(id);
    if (it == m_partitions.end()) {
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "partition not found, id: " << id);
      return false;
    }
    if (it->second && !IsUnusedLocked(id, it->second)) return false;
    // Erasing drops the last reference: the database is closed before its
    // files are deleted below.
    // Its number is never given again while this store lives: a user still
    // holding ids of its rows (sent, to be deleted) would delete the rows of
    // a new partition under the same number.
    m_partitions.erase(it);
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "delete partition files, id: " << id);
  m_storageManager->RemoveStorage(id);
  return true;
}

}  // namespace sendara::base::storages
