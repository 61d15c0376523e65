#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// A shared library loaded by path, unloaded when the object goes.
class DynamicLibrary {
 public:
  // How the system's shared libraries end: ".dll" on Windows, ".so"
  // elsewhere.
  static constexpr std::string_view kFileSuffix =
#if defined(_WIN32)
      ".dll";
#else
      ".so";
#endif

  // The file name of the project's library `stem` on this system: the stem
  // and kFileSuffix, with no "lib" in front ("tlsbridge_1_1" gives
  // "tlsbridge_1_1.so" or "tlsbridge_1_1.dll").
  static std::string FileNameFor(std::string_view stem) {
    std::string name(stem);
    name += kFileSuffix;
    return name;
  }

  DynamicLibrary() = default;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  ~DynamicLibrary();

  // Loads the library; false with the loader's message in `error` otherwise.
  // On Windows the libraries it needs are looked for next to it first, so
  // `path` must be absolute there.
  bool Load(const std::filesystem::path& path, std::string& error);
  bool IsLoaded() const noexcept { return m_handle != nullptr; }
  // The address of the symbol, or null when the library does not define it.
  void* FindSymbol(const char* name) const noexcept;

  // The file of the library (or program) that contains `address`; empty when
  // the loader does not know it.
  static std::filesystem::path PathContaining(const void* address);

 private:
  void* m_handle = nullptr;  // dlopen's handle, or the HMODULE on Windows
};

}  // namespace platform
