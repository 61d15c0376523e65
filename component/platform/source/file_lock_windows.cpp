// The Windows half; file_lock_posix.cpp is the POSIX one.

#include "component/platform/file_lock.h"

#include "windows_api.h"

namespace platform {
namespace {

// The byte locked: the first, which exists whatever the file's size (a lock
// may reach past the end of a file).
constexpr DWORD kLockedBytesLow = 1;
constexpr DWORD kLockedBytesHigh = 0;

void AssignLastError(std::error_code& error) {
  error.assign(static_cast<int>(::GetLastError()), std::system_category());
}

}  // namespace

FileLock::Outcome FileLock::Acquire(const std::filesystem::path& file, std::unique_ptr<FileLock>& lock,
                                    std::error_code& error) {
  // Shared every way, as a lock file is on POSIX systems: the byte lock
  // alone decides, and nobody is kept from opening, renaming or removing it.
  const HANDLE handle =
      ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    AssignLastError(error);
    return Outcome::kFailed;
  }
  // A lock belongs to the handle: another handle of this process is refused
  // like another process, as another descriptor is with flock.
  OVERLAPPED at{};
  if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kLockedBytesLow, kLockedBytesHigh,
                    &at)) {
    const DWORD failure = ::GetLastError();
    ::CloseHandle(handle);
    if (failure == ERROR_LOCK_VIOLATION) return Outcome::kHeldElsewhere;
    error.assign(static_cast<int>(failure), std::system_category());
    return Outcome::kFailed;
  }
  try {
    lock.reset(new FileLock(handle));
  } catch (...) {
    ::CloseHandle(handle);
    throw;
  }
  return Outcome::kLocked;
}

FileLock::~FileLock() {
  // Unlocked before the close: the system lets the lock of a closed handle
  // go only when it gets round to it, and the next Acquire may come at once.
  OVERLAPPED at{};
  ::UnlockFileEx(m_file, 0, kLockedBytesLow, kLockedBytesHigh, &at);
  ::CloseHandle(m_file);
}

}  // namespace platform
