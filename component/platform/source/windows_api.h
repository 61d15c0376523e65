#pragma once

// <windows.h> for the Windows halves of the platform layer, and nowhere else:
// the layer's own headers keep it out of the rest of the component. Only the
// platform's sources that end in _windows.cpp include this.

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Windows 7 and later: a function of a later version is looked up at run
// time, so that the module still loads where it is missing.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::windows {

// A function found by GetProcAddress, as its own type: through void*, which
// GCC's cast warnings let pass, since FARPROC matches no real signature.
template <typename Function>
Function FunctionFrom(FARPROC address) noexcept {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD. Throw
// std::bad_alloc only.
inline std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 0, L'\0');
  if (size > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  }
  return wide;
}

inline std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr,
                          nullptr);
  }
  return narrow;
}

}  // namespace platform::windows

#endif  // defined(_WIN32)
