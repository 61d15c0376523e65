#include "component/platform/secure_memory.h"

#include <string.h>

namespace platform {

void WipeMemory(void* data, std::size_t size) noexcept {
  if (data && size != 0) ::explicit_bzero(data, size);
}

}  // namespace platform
