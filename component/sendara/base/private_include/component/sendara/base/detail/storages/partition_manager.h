#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/i_value_storage.h"
#include "component/sendara/base/detail/storages/partition_storage_manager.h"

namespace sendara::base::storages {

// The known partitions and the open storage of each. A partition whose
// storage is held by anyone but this manager (an iterator, an insert) is in
// use: it is neither closed nor removed.
class PartitionManager {
 public:
  PartitionManager(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<PartitionStorageManager> storageManager);

  std::vector<std::uint64_t> LoadPartitions();
  std::uint64_t CreateNewPartition();
  // Opens the partition's storage when needed; empty for an unknown id.
  std::shared_ptr<IValueStorage> GetStorage(std::uint64_t id);
  void ClosePartition(std::uint64_t id);
  // Forgets the partition and deletes its files, unless it is in use.
  bool TryToRemovePartition(std::uint64_t id);

  std::uint64_t LostRows() const noexcept { return m_storageManager->LostRows(); }
  void CountLostRows(std::uint64_t count) noexcept { m_storageManager->CountLostRows(count); }

 private:
  // Whether the partition's storage may be dropped; traced.
  bool IsUnusedLocked(std::uint64_t id, const std::shared_ptr<IValueStorage>& storage) const;

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<PartitionStorageManager> m_storageManager;
  std::mutex m_mutex;
  std::map<std::uint64_t, std::shared_ptr<IValueStorage>> m_partitions;
  std::uint64_t m_nextId = 0;
};

}  // namespace sendara::base::storages
