#pragma once

#include <optional>
#include <string>

#if defined(_WIN32)
// <windows.h> makes GetEnvironmentVariable a macro for GetEnvironmentVariableA
// or ...W. Where it came first, the declaration keeps its own name here, and
// calls spelled with the macro still reach it through the two forwarders
// below, whichever order a file includes both headers in.
#pragma push_macro("GetEnvironmentVariable")
#undef GetEnvironmentVariable
#endif

namespace platform {

// The value of an environment variable, or nothing when it is not set. On
// Windows both name and value are UTF-8, and a variable set to nothing is an
// empty string.
std::optional<std::string> GetEnvironmentVariable(const std::string& name);

#if defined(_WIN32)
inline std::optional<std::string> GetEnvironmentVariableA(const std::string& name) {
  return GetEnvironmentVariable(name);
}
inline std::optional<std::string> GetEnvironmentVariableW(const std::string& name) {
  return GetEnvironmentVariable(name);
}
#endif

}  // namespace platform

#if defined(_WIN32)
#pragma pop_macro("GetEnvironmentVariable")
#endif
