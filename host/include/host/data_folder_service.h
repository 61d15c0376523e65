#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "component/oru/basic_object.h"
#include "component/oru/i_data_folder_service.h"
#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/thread_annotations.h"

namespace reference_host {

// The host's data folders: one path per folder id, set by the host.
class DataFolderService final
    : public oru::BasicObject<DataFolderService, oru::UncountedObject, oru::IDataFolderService> {
 public:
  void SetFolder(std::uint32_t folderId, const std::filesystem::path& path) EXCLUDES(m_mutex) {
    platform::MutexLock lock(&m_mutex);
    m_folders[folderId] = path.u16string();
  }

  // NotFound for an id the host has no folder for.
  oru::Result GetDataFolderPath(std::uint32_t folderId, std::u16string& path) noexcept override EXCLUDES(m_mutex) {
    try {
      platform::MutexLock lock(&m_mutex);
      const auto found = m_folders.find(folderId);
      if (found == m_folders.end()) return oru::rc::NotFound;
      path = found->second;
      return oru::rc::NoError;
    } catch (...) {
      return oru::rc::OutOfMemory;
    }
  }

 private:
  platform::Mutex m_mutex;
  std::map<std::uint32_t, std::u16string> m_folders GUARDED_BY(m_mutex);
};

}  // namespace reference_host
