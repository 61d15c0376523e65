#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/file_lock.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"

namespace sendara::base::storages {

// The stores of the process, one per folder. Two stores on one folder would
// each list its partitions once, delete files the other still writes to,
// and number new ones alike: every client on a data folder shares its store
// instead (a new client while an old one still spools, two tasks given one
// folder). A lock file in the folder keeps a second process off it.
class PersistentStorageRegistry {
 public:
  // The lock file's name, in the data folder.
  static constexpr const char* kLockFileName = "telemetry.lock";

  // The store under `baseDirectory`/queues: the one open in this process,
  // with the limits it has (a client sets its own at its start), or a new
  // one. Raises tools_exception (Locked) when another process holds the
  // folder. A folder that cannot be locked (not writable) is used unlocked:
  // its store fails its writes, which its users report.
  static std::shared_ptr<PartitionedValueStorage> Open(const std::filesystem::path& baseDirectory,
                                                       oru::RefPtr<oru::ITracer> tracer, SensitiveDataTracePolicy policy,
                                                       std::uint64_t maxPartitionSizeBytes,
                                                       std::uint32_t maxPartitionCount, std::uint32_t removeCount);

 private:
  struct Entry {
    std::weak_ptr<PartitionedValueStorage> store;
    // Outlives its store a moment: held by the store's deleter, which may
    // still run while a new store on the folder is made.
    std::weak_ptr<platform::FileLock> lock;
  };

  static PersistentStorageRegistry& Instance();
  // Drops the entry of `key` once neither its store nor its lock is left.
  void Forget(const std::string& key) EXCLUDES(m_mutex);

  // A leaf: held while a store is looked up or made (files listed and
  // locked, the tracer told), nothing else taken under it.
  platform::Mutex m_mutex;
  std::map<std::string, Entry> m_entries GUARDED_BY(m_mutex);
};

}  // namespace sendara::base::storages
