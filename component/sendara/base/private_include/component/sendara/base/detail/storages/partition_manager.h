#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/storages/i_value_storage.h"
#include "component/sendara/base/detail/storages/partition_storage_manager.h"

namespace sendara::base::storages {

// The known partitions and the open storage of each. A partition whose
// storage is held by anyone but this manager (an iterator, an insert) is in
// use: it is neither closed nor removed.
class PartitionManager {
 public:
  PartitionManager(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<PartitionStorageManager> storageManager);

  std::vector<std::uint64_t> LoadPartitions() EXCLUDES(m_mutex);
  std::uint64_t CreateNewPartition() EXCLUDES(m_mutex);
  // Opens the partition's storage when needed; empty for an unknown id.
  std::shared_ptr<IValueStorage> GetStorage(std::uint64_t id) EXCLUDES(m_mutex);
  void ClosePartition(std::uint64_t id) EXCLUDES(m_mutex);
  // Forgets the partition and deletes its files, unless it is in use.
  bool TryToRemovePartition(std::uint64_t id) EXCLUDES(m_mutex);

  std::uint64_t LostRows() const noexcept { return m_storageManager->LostRows(); }
  void CountLostRows(std::uint64_t count) noexcept { m_storageManager->CountLostRows(count); }
  std::shared_ptr<const std::atomic<std::uint64_t>> LostRowsCounter() const noexcept {
    return m_storageManager->LostRowsCounter();
  }

 private:
  // The storage that calls this manager under its own mutex names this one
  // in its lock order.
  friend class PartitionedValueStorage;

  // Whether the partition's storage may be dropped; traced. Under the lock:
  // nobody else can take a new reference from the map meanwhile.
  bool IsUnusedLocked(std::uint64_t id, const std::shared_ptr<IValueStorage>& storage) const REQUIRES(m_mutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<PartitionStorageManager> m_storageManager;
  platform::Mutex m_mutex;
  std::map<std::uint64_t, std::shared_ptr<IValueStorage>> m_partitions GUARDED_BY(m_mutex);
  std::uint64_t m_nextId GUARDED_BY(m_mutex) = 0;
};

}  // namespace sendara::base::storages
