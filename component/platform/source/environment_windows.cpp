// The Windows half; environment_posix.cpp is the POSIX one.

#include "component/platform/environment.h"

#include <vector>

#include "windows_api.h"
// The function defined here has the name of the macro of <windows.h>.
#undef GetEnvironmentVariable

namespace platform {

std::optional<std::string> GetEnvironmentVariable(const std::string& name) {
  const std::wstring wideName = windows::WideFromUtf8(name);
  // The process's own environment, which the C runtime's copy may lag
  // behind; a value may change between two calls, hence the loop.
  std::vector<wchar_t> buffer(256);
  for (;;) {
    // An empty value gives 0 as an unset one does, and only the unset one
    // sets an error.
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    // Too small a buffer gives the size it needs, its terminator counted.
    if (length < buffer.size()) return windows::Utf8FromWide(std::wstring_view(buffer.data(), length));
    buffer.resize(length);
  }
}

}  // namespace platform
