// The POSIX half; this_thread_windows.cpp is the Windows one.

#include "component/platform/this_thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace platform {

std::uint32_t CurrentThreadId() noexcept {
  return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

void SetCurrentThreadName(const char* name) noexcept {
  if (!name) return;
  char truncated[16] = {};
  std::strncpy(truncated, name, sizeof truncated - 1);
  (void)::pthread_setname_np(::pthread_self(), truncated);
}

}  // namespace platform
