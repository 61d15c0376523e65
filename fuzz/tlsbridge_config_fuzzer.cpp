// Writes the input as "tlsbridge.config" into a folder of its own and asks a
// loader of that folder where the TLS library is. The loader reads the file
// itself (it has no entry point for text), so the file is written once per
// input; the library is never loaded. Nothing may crash, trip a sanitizer or
// hang; the answer is an absolute path to "tlsbridge_1_1.so" or a
// std::runtime_error of the loader.
//
// %EDR_FUZZ_LIBRARY_DIR% names a folder with a plain "tlsbridge_1_1.so" and
// %EDR_FUZZ_LINK_DIR% one where that name is a symbolic link, so that the
// configured path can pass or fail each of the loader's checks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "component/tlsbridge/tls_bridge_loader.h"
#include "temp_directory.h"

namespace {

namespace fs = std::filesystem;

struct Folders {
  Folders() {
    std::ofstream(library.Path() / "tlsbridge_1_1.so").put('\0');
    fs::create_symlink(library.Path() / "tlsbridge_1_1.so", link.Path() / "tlsbridge_1_1.so");
    ::setenv("EDR_FUZZ_LIBRARY_DIR", library.Path().c_str(), 1);
    ::setenv("EDR_FUZZ_LINK_DIR", link.Path().c_str(), 1);
  }

  TempDirectory own;
  TempDirectory library;
  TempDirectory link;
};

const Folders& TheFolders() {
  static const Folders folders;
  return folders;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Folders& folders = TheFolders();
  {
    std::ofstream config(folders.own.Path() / "tlsbridge.config", std::ios::binary | std::ios::trunc);
    config.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!config) __builtin_trap();
  }
  tlsbridge::TlsBridgeLoader loader(folders.own.Path());
  try {
    const fs::path library = loader.LibraryPath();
    if (!library.is_absolute() || library.filename() != "tlsbridge_1_1.so") __builtin_trap();
  } catch (const std::runtime_error& error) {
    if (std::string_view(error.what()).rfind("TlsBridge-loader: ", 0) != 0) __builtin_trap();
  }
  return 0;
}
