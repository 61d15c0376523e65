// The Windows half; this_thread_posix.cpp is the POSIX one.

#include "component/platform/this_thread.h"

#include <new>
#include <string>

#include "windows_api.h"

namespace platform {
namespace {

using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE thread, PCWSTR description);

// Windows 10 (1607) and later only, so looked up rather than linked; once,
// as the answer does not change while the process runs.
SetThreadDescriptionFunction SetThreadDescriptionOfSystem() noexcept {
  static const SetThreadDescriptionFunction function = [] {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? windows::FunctionFrom<SetThreadDescriptionFunction>(
                          ::GetProcAddress(kernel32, "SetThreadDescription"))
                    : nullptr;
  }();
  return function;
}

}  // namespace

std::uint32_t CurrentThreadId() noexcept { return ::GetCurrentThreadId(); }

void SetCurrentThreadName(const char* name) noexcept {
  if (!name) return;
  const SetThreadDescriptionFunction setThreadDescription = SetThreadDescriptionOfSystem();
  if (!setThreadDescription) return;
  try {
    const std::wstring wide = windows::WideFromUtf8(name);
    (void)setThreadDescription(::GetCurrentThread(), wide.c_str());
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace platform
