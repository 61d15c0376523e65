#pragma once

#include <filesystem>
#include <string>

namespace platform {

// A shared library loaded by path, unloaded when the object goes.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  ~DynamicLibrary();

  // Loads the library; false with the loader's message in `error` otherwise.
  bool Load(const std::filesystem::path& path, std::string& error);
  bool IsLoaded() const noexcept { return m_handle != nullptr; }
  // The address of the symbol, or null when the library does not define it.
  void* FindSymbol(const char* name) const noexcept;

  // The file of the library (or program) that contains `address`; empty when
  // the loader does not know it.
  static std::filesystem::path PathContaining(const void* address);

 private:
  void* m_handle = nullptr;
};

}  // namespace platform
