#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "component/platform/dynamic_library.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace tlsbridge {

// Loads the TLS library (OpenSSL, through the sibling library
// "tlsbridge_1_1.so", "tlsbridge_1_1.dll" on Windows) on the first OpenSSL call of the process and resolves
// OpenSSL functions by name. The component never links OpenSSL itself: every
// OpenSSL function it calls is a forwarder that asks the process-wide loader
// for the real address once and caches it.
//
// The library is looked for in the directory of the component's own file,
// unless the file "tlsbridge.config" next to the component names another
// directory. A failed load leaves the loader unloaded, so that the next call
// tries again (after the library was installed or the configuration fixed);
// once loaded, the library stays for the life of the loader, which for the
// process-wide one is the life of the process.
//
// Every failure is a std::runtime_error whose message starts with
// "TlsBridge-loader: ".
class TlsBridgeLoader {
 public:
  // The loader of the process, created on the first call and never destroyed:
  // addresses cached by the forwarders must stay valid up to the very end of
  // the process, static destructors included.
  static TlsBridgeLoader& Instance();

  // A loader that takes `ownDirectory` for the directory of the component's
  // own file, where it reads "tlsbridge.config" and, without one, finds the
  // library. Lets tests arrange both in a directory of their own; it unloads
  // its library when it goes.
  explicit TlsBridgeLoader(std::filesystem::path ownDirectory);

  TlsBridgeLoader(const TlsBridgeLoader&) = delete;
  TlsBridgeLoader& operator=(const TlsBridgeLoader&) = delete;
  ~TlsBridgeLoader() = default;

  // The address of the OpenSSL function `name`, loading the library first when
  // no earlier call did. Safe to call from any number of threads at once.
  void* Resolve(const char* name) EXCLUDES(m_loadMutex);

  // The full path of the library to load: the directory that the
  // configuration names, or the directory of the component's own file,
  // followed by "tlsbridge_1_1.so" ("tlsbridge_1_1.dll" on Windows).
  std::filesystem::path LibraryPath() const;

 private:
  // The loader of the process: the directory is that of the file (module or
  // program) that contains this code.
  TlsBridgeLoader() = default;

  void EnsureLoaded() EXCLUDES(m_loadMutex);
  // The library once EnsureLoaded has returned, read without the lock (see
  // m_loaded).
  const platform::DynamicLibrary& LoadedLibrary() const NO_THREAD_SAFETY_ANALYSIS { return m_library; }
  std::filesystem::path OwnDirectory() const;
  // The library path that "tlsbridge.config" names, or nothing when there is
  // no configuration file.
  std::optional<std::filesystem::path> ConfiguredLibraryPath(
      const std::filesystem::path& ownDirectory) const;
  static std::string ExpandEnvironmentVariables(std::string_view text);

  // Empty for the loader of the process.
  std::optional<std::filesystem::path> m_ownDirectory;
  platform::Mutex m_loadMutex;
  // Set, with release ordering, once m_library holds the loaded library; it
  // is never changed after that, so readers that saw the flag need no lock.
  std::atomic<bool> m_loaded{false};
  platform::DynamicLibrary m_library GUARDED_BY(m_loadMutex);
};

}  // namespace tlsbridge
