#include "component/sendara/base/detail/storages/persistent_storage_registry.h"

#include <new>
#include <system_error>
#include <utility>

#include "component/platform/mutex_lock.h"
#include "component/platform/system_error.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/partition_manager.h"
#include "component/sendara/base/detail/storages/partition_storage_manager.h"

namespace sendara::base::storages {

PersistentStorageRegistry& PersistentStorageRegistry::Instance() {
  // In static storage, never destroyed: a store may still be let go while
  // the process exits. Its entries go with their stores, so nothing of it
  // stays on the heap once the module is unloaded.
  alignas(PersistentStorageRegistry) static unsigned char storage[sizeof(PersistentStorageRegistry)];
  static PersistentStorageRegistry* const registry = new (storage) PersistentStorageRegistry;
  return *registry;
}

void PersistentStorageRegistry::Forget(const std::string& key) {
  platform::MutexLock lock(&m_mutex);
  const auto found = m_entries.find(key);
  if (found != m_entries.end() && found->second.store.expired() && found->second.lock.expired()) {
    m_entries.erase(found);
  }
}

std::shared_ptr<PartitionedValueStorage> PersistentStorageRegistry::Open(const std::filesystem::path& baseDirectory,
                                                                         oru::RefPtr<oru::ITracer> tracer,
                                                                         SensitiveDataTracePolicy policy,
                                                                         std::uint64_t maxPartitionSizeBytes,
                                                                         std::uint32_t maxPartitionCount,
                                                                         std::uint32_t removeCount) {
  const std::filesystem::path directory = baseDirectory / "queues";
  std::error_code error;
  // One key for every spelling of the folder that exists so far.
  std::filesystem::path key = std::filesystem::weakly_canonical(directory, error);
  if (error) key = std::filesystem::absolute(directory, error).lexically_normal();

  PersistentStorageRegistry& registry = Instance();
  platform::MutexLock lock(&registry.m_mutex);
  Entry& entry = registry.m_entries[key.string()];
  if (std::shared_ptr<PartitionedValueStorage> open = entry.store.lock()) return open;

  std::shared_ptr<platform::FileLock> folderLock = entry.lock.lock();
  if (!folderLock) {
    // In the data folder, which the host gives; the partitions' folder is
    // made with the first partition.
    std::filesystem::create_directories(baseDirectory, error);
    std::unique_ptr<platform::FileLock> acquired;
    error.clear();
    switch (platform::FileLock::Acquire(baseDirectory / kLockFileName, acquired, error)) {
      case platform::FileLock::Outcome::kLocked:
        folderLock = std::move(acquired);
        break;
      case platform::FileLock::Outcome::kHeldElsewhere: {
        tools_exception exception(oru::rc::Locked, "persistent storage is in use by another process", __FILE__,
                                  __LINE__);
        exception.SetProperty("path", baseDirectory.string());
        ThrowNested(std::move(exception));
      }
      case platform::FileLock::Outcome::kFailed:
        SENDARA_TRACE(tracer, TraceLevel::kWarning,
                      "persistent storage can't be locked, used unlocked: path = "
                          << baseDirectory.string() << "; error = " << error.message());
        break;
    }
  }

  auto storageManager = std::make_shared<PartitionStorageManager>(tracer, std::move(policy), directory, "telemetry-");
  auto partitionManager = std::make_shared<PartitionManager>(tracer, std::move(storageManager));
  auto* store = new PartitionedValueStorage(std::move(tracer), std::move(partitionManager), maxPartitionSizeBytes,
                                            maxPartitionCount, removeCount);
  // The lock goes with the store's last holder, after its files are closed:
  // let go here, since the deleter itself lives on with the weak reference
  // the registry keeps.
  std::shared_ptr<PartitionedValueStorage> created(
      store, [folderLock, key = key.string()](PartitionedValueStorage* gone) mutable {
        delete gone;
        folderLock.reset();
        Instance().Forget(key);
      });
  entry.store = created;
  entry.lock = folderLock;
  return created;
}

}  // namespace sendara::base::storages
