// The POSIX half; dynamic_library_windows.cpp is the Windows one.

#include "component/platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace platform {

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (m_handle) ::dlclose(m_handle);
    m_handle = std::exchange(other.m_handle, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() {
  if (m_handle) ::dlclose(m_handle);
}

bool DynamicLibrary::Load(const std::filesystem::path& path, std::string& error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = ::dlerror();
    error = message ? message : "unknown loader error";
    return false;
  }
  if (m_handle) ::dlclose(m_handle);
  m_handle = handle;
  return true;
}

void* DynamicLibrary::FindSymbol(const char* name) const noexcept {
  if (!m_handle || !name) return nullptr;
  return ::dlsym(m_handle, name);
}

std::filesystem::path DynamicLibrary::PathContaining(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || !info.dli_fname) return {};
  return std::filesystem::path(info.dli_fname);
}

}  // namespace platform
