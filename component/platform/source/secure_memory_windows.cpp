#include "component/platform/secure_memory.h"

#include "windows_api.h"

namespace platform {

void WipeMemory(void* data, std::size_t size) noexcept {
  if (data && size != 0) ::SecureZeroMemory(data, size);
}

}  // namespace platform
