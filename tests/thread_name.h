#pragma once

#include <string>

#if defined(_WIN32)
#include "windows_headers.h"
#else
#include <pthread.h>
#endif

// The calling thread's name as the system keeps it; empty where the system
// keeps none (Windows before 10).
inline std::string CurrentThreadNameForTest() {
#if defined(_WIN32)
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  const auto get = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  PWSTR description = nullptr;
  if (!get || FAILED(get(::GetCurrentThread(), &description)) || !description) return {};
  std::string name;
  for (const wchar_t* c = description; *c; ++c) name += static_cast<char>(*c < 0x80 ? *c : '?');
  ::LocalFree(description);
  return name;
#else
  char buffer[16] = {};
  pthread_getname_np(pthread_self(), buffer, sizeof buffer);
  return buffer;
#endif
}
