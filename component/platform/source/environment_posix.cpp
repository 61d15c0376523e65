// The POSIX half; environment_windows.cpp is the Windows one.

#include "component/platform/environment.h"

#include <cstdlib>

namespace platform {

std::optional<std::string> GetEnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace platform
