#include "component/platform/secure_memory.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace platform {

void WipeMemory(void* data, std::size_t size) noexcept {
  if (data && size != 0) ::SecureZeroMemory(data, size);
}

}  // namespace platform
