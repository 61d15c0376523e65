// The POSIX half; file_lock_windows.cpp is the Windows one.

#include "component/platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileLock::Outcome FileLock::Acquire(const std::filesystem::path& file, std::unique_ptr<FileLock>& lock,
                                    std::error_code& error) {
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error.assign(errno, std::generic_category());
    return Outcome::kFailed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int failure = errno;
    ::close(fd);
    if (failure == EWOULDBLOCK) return Outcome::kHeldElsewhere;
    error.assign(failure, std::generic_category());
    return Outcome::kFailed;
  }
  lock.reset(new FileLock(fd));
  return Outcome::kLocked;
}

// Closing the last descriptor of the open file lets the lock go.
FileLock::~FileLock() { ::close(m_fd); }

}  // namespace platform
