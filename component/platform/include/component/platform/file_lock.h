#pragma once

#include <filesystem>
#include <memory>
#include <system_error>

namespace platform {

// An advisory lock on a file (flock), held until the object goes: another
// process, or another open of the file in this one, asking for it is
// refused. The file is made when missing and never removed.
class FileLock {
 public:
  enum class Outcome { kLocked, kHeldElsewhere, kFailed };

  // kLocked with `lock` set; kHeldElsewhere when another holder has it;
  // kFailed with `error` when the file cannot be made or opened.
  static Outcome Acquire(const std::filesystem::path& file, std::unique_ptr<FileLock>& lock, std::error_code& error);

  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  explicit FileLock(int fd) noexcept : m_fd(fd) {}

  const int m_fd;
};

}  // namespace platform
