#pragma once

#include <filesystem>
#include <memory>
#include <system_error>

namespace platform {

// A lock on a file, held until the object goes: another process, or another
// open of the file in this one, asking for it is refused. The file is made
// when missing and never removed. An advisory lock (flock) on POSIX systems;
// on Windows a lock of the file's first byte (LockFileEx), which keeps the
// others from reading or writing that byte too.
class FileLock {
 public:
  enum class Outcome { kLocked, kHeldElsewhere, kFailed };

  // kLocked with `lock` set; kHeldElsewhere when another holder has it;
  // kFailed with `error` when the file cannot be made or opened (an errno
  // value, or a Windows error code in the system category on Windows).
  static Outcome Acquire(const std::filesystem::path& file, std::unique_ptr<FileLock>& lock, std::error_code& error);

  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
#if defined(_WIN32)
  explicit FileLock(void* file) noexcept : m_file(file) {}

  void* const m_file;  // the open file's HANDLE
#else
  explicit FileLock(int fd) noexcept : m_fd(fd) {}

  const int m_fd;
#endif
};

}  // namespace platform
