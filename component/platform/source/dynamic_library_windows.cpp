// The Windows half; dynamic_library_posix.cpp is the POSIX one.

#include "component/platform/dynamic_library.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "windows_api.h"

namespace platform {
namespace {

struct LocalMemoryFree {
  void operator()(wchar_t* memory) const noexcept { ::LocalFree(memory); }
};

// The system's message for `error`, as UTF-8, with its number.
std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalMemoryFree> owned(buffer);
  std::wstring_view message(buffer, buffer ? length : 0);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.remove_suffix(1);
  }
  std::string text = message.empty() ? std::string("unknown loader error") : windows::Utf8FromWide(message);
  return text + " (error " + std::to_string(error) + ")";
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (m_handle) ::FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = std::exchange(other.m_handle, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() {
  if (m_handle) ::FreeLibrary(static_cast<HMODULE>(m_handle));
}

bool DynamicLibrary::Load(const std::filesystem::path& path, std::string& error) {
  // No message box for a file the system cannot map (a damaged or foreign
  // image): the host may be a service with nobody to close it. Per thread,
  // so that the rest of the process keeps its own error mode.
  DWORD previousMode = 0;
  const bool modeSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
  // The loader wants backslashes, which a path written with slashes lacks.
  std::filesystem::path native(path);
  native.make_preferred();
  const HMODULE handle = ::LoadLibraryExW(native.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD failure = handle ? ERROR_SUCCESS : ::GetLastError();
  if (modeSet) ::SetThreadErrorMode(previousMode, nullptr);
  if (!handle) {
    error = ErrorText(failure);
    return false;
  }
  if (m_handle) ::FreeLibrary(static_cast<HMODULE>(m_handle));
  m_handle = handle;
  return true;
}

void* DynamicLibrary::FindSymbol(const char* name) const noexcept {
  if (!m_handle || !name) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

std::filesystem::path DynamicLibrary::PathContaining(const void* address) {
  // Null asks GetModuleHandleExW for the program, which contains no null.
  if (!address) return {};
  HMODULE module = nullptr;
  // Without a reference of its own: the module of code that runs is loaded.
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
    return {};
  }
  // Paths can be longer than MAX_PATH; a full buffer means a cut one.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    if (buffer.size() >= 32768) return {};  // longer than any path the system has
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
