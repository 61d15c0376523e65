#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/storages/i_value_storage.h"

namespace sendara::base::storages {

// The folder of partition files: <prefix><id>.db, with SQLite's "-wal" and
// "-shm" files beside each. Other files are left alone.
class PartitionStorageManager {
 public:
  PartitionStorageManager(oru::RefPtr<oru::ITracer> tracer, SensitiveDataTracePolicy policy,
                          std::filesystem::path directory, std::string prefix);
  virtual ~PartitionStorageManager() = default;

  // The ids of the partition files, ascending; empty when the folder does
  // not exist. Names that do not parse are traced and skipped.
  virtual std::vector<std::uint64_t> ListPartitions();
  // A storage on the partition's file, creating the folder when absent; the
  // file is opened on first use.
  virtual std::shared_ptr<IValueStorage> GetStorage(std::uint64_t id);
  // Deletes the file and its side files; failures are traced, not raised.
  virtual void RemoveStorage(std::uint64_t id);

  std::filesystem::path PathOf(std::uint64_t id) const;

  // Stored rows lost so far: damaged beyond reading, or unreadable once read.
  std::uint64_t LostRows() const noexcept { return m_lostRows->load(); }
  void CountLostRows(std::uint64_t count) noexcept { *m_lostRows += count; }
  std::shared_ptr<const std::atomic<std::uint64_t>> LostRowsCounter() const noexcept { return m_lostRows; }

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const SensitiveDataTracePolicy m_policy;
  const std::filesystem::path m_directory;
  const std::string m_prefix;
  // Shared with the connections, which may outlive this manager.
  const std::shared_ptr<std::atomic<std::uint64_t>> m_lostRows = std::make_shared<std::atomic<std::uint64_t>>(0);
};

}  // namespace sendara::base::storages
