#include "component/tlsbridge/tls_bridge_loader.h"

#if defined(__SANITIZE_ADDRESS__)
#define EDR_LEAK_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EDR_LEAK_SANITIZER 1
#endif
#endif
#ifdef EDR_LEAK_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "component/oru/result_code.h"
#include "component/oru/result_text.h"
#include "component/platform/environment.h"
#include "component/platform/file_reader.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/utf_convert.h"

namespace tlsbridge {
namespace {

constexpr std::string_view kPrefix = "TlsBridge-loader: ";
// "tlsbridge_1_1.so", or "tlsbridge_1_1.dll" on Windows.
constexpr std::string_view kLibraryStem = "tlsbridge_1_1";
constexpr std::string_view kConfigFileName = "tlsbridge.config";
// The configuration is a byte-order mark and a directory path in UTF-16LE.
constexpr std::size_t kByteOrderMarkSize = 2;
constexpr std::size_t kMinimumConfigSize = kByteOrderMarkSize;
constexpr std::size_t kMaximumConfigSize = 65536;
// What the configuration text is trimmed of: editors add line ends, people
// add blanks, and neither can be meant as part of the directory.
constexpr std::string_view kBlanks = " \t\r\n\v\f";

// An object inside the component: the file that contains it is the
// component's own file (the module, or a program that links the component).
constexpr char kOwnFileAnchor = 0;

[[noreturn]] void Fail(std::string text) {
  throw std::runtime_error(std::string(kPrefix) + std::move(text));
}

std::string WithSystemError(std::string_view text, oru::Result result) {
  std::string message(text);
  message += ": ";
  message += oru::GetResultText(result);
  return message;
}

std::string_view WithoutPrefix(std::string_view message) {
  if (message.starts_with(kPrefix)) message.remove_prefix(kPrefix.size());
  return message;
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// The text after the byte-order mark; an odd last byte is no character.
std::u16string DecodeUtf16Le(const std::vector<std::uint8_t>& bytes) {
  std::u16string text;
  const std::size_t count = (bytes.size() - kByteOrderMarkSize) / 2;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kByteOrderMarkSize + 2 * i;
    text += static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
  }
  return text;
}

// The loader reports a module by the path it was loaded with, and a program
// by the name it was started with: either may be relative to the working
// directory, which must not decide later where the library is.
std::filesystem::path MakeAbsolute(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path absolutePath = std::filesystem::absolute(path, error);
  if (error) Fail("Can't get tlsbridge module path: " + error.message());
  return absolutePath;
}

[[noreturn]] void FailInvalidPath(const std::filesystem::path& path, std::string_view error) {
  Fail("Config file contains invalid path: '" + path.string() + "'. Error: " + std::string(error));
}

}  // namespace

TlsBridgeLoader& TlsBridgeLoader::Instance() {
  // Leaked on purpose: see the declaration.
  static TlsBridgeLoader* const instance = [] {
    auto* const loader = new TlsBridgeLoader();
#ifdef EDR_LEAK_SANITIZER
    // A host that unloads the module takes the only pointer to it along;
    // the leak checker must not count the one loader of the process.
    __lsan_ignore_object(loader);
#endif
    return loader;
  }();
  return *instance;
}

TlsBridgeLoader::TlsBridgeLoader(std::filesystem::path ownDirectory)
    : m_ownDirectory(std::move(ownDirectory)) {}

void* TlsBridgeLoader::Resolve(const char* name) {
  const std::string_view shownName = name ? name : "";
  EnsureLoaded();
  void* const address = LoadedLibrary().FindSymbol(name);
  if (!address) {
    Fail("Can't resolve address of '" + std::string(shownName) + "': undefined symbol");
  }
  return address;
}

void TlsBridgeLoader::EnsureLoaded() {
  if (m_loaded.load(std::memory_order_acquire)) return;
  platform::MutexLock lock(&m_loadMutex);
  if (m_loaded.load(std::memory_order_relaxed)) return;
  // Load exactly the path that was worked out (and, for a configured one,
  // checked): it is absolute, so the loader searches no other directory.
  const std::filesystem::path path = LibraryPath();
  std::string error;
  if (!m_library.Load(path, error)) {
    Fail("Can't load tlsbridge module: '" + path.string() + "'. Error: " + error);
  }
  m_loaded.store(true, std::memory_order_release);
}

std::filesystem::path TlsBridgeLoader::LibraryPath() const {
  const std::filesystem::path ownDirectory = OwnDirectory();
  std::optional<std::filesystem::path> configured;
  try {
    configured = ConfiguredLibraryPath(ownDirectory);
  } catch (const std::exception& error) {
    std::throw_with_nested(std::runtime_error(std::string(kPrefix) +
                                              "Error during parse config file: " +
                                              std::string(WithoutPrefix(error.what()))));
  }
  if (configured) return *configured;
  return ownDirectory / platform::DynamicLibrary::FileNameFor(kLibraryStem);
}

std::filesystem::path TlsBridgeLoader::OwnDirectory() const {
  if (m_ownDirectory) return MakeAbsolute(*m_ownDirectory);
  const std::filesystem::path ownFile = platform::DynamicLibrary::PathContaining(&kOwnFileAnchor);
  if (ownFile.empty()) {
    Fail("Can't get tlsbridge module path: the loader does not know the file of the component");
  }
  return MakeAbsolute(ownFile).parent_path();
}

std::optional<std::filesystem::path> TlsBridgeLoader::ConfiguredLibraryPath(
    const std::filesystem::path& ownDirectory) const {
  const std::filesystem::path configPath = ownDirectory / kConfigFileName;

  // No configuration unless the name is a plain file: a directory or a
  // symbolic link is not one, and neither is a device or a pipe, which could
  // block the read forever.
  std::error_code statusError;
  const std::filesystem::file_status status =
      std::filesystem::symlink_status(configPath, statusError);
  if (statusError || !std::filesystem::is_regular_file(status)) return std::nullopt;

  const platform::FileReader::Outcome read =
      platform::FileReader::Read(configPath, kMaximumConfigSize);
  if (read.result == oru::rc::FileIsTooBig) Fail("Invalid config file size");
  if (read.result == oru::rc::MediaError) {
    Fail(WithSystemError("Failed to read config file", read.result));
  }
  if (oru::Failed(read.result)) Fail(WithSystemError("Can't open config file", read.result));
  if (read.bytes.size() < kMinimumConfigSize) Fail("Invalid config file size");

  const std::string text = sendara::base::ToUtf8(DecodeUtf16Le(read.bytes));
  const std::string directory = ExpandEnvironmentVariables(Trim(text));
  // The text is UTF-8 on every system; a narrow path on Windows would be read
  // in the ANSI code page.
  const std::filesystem::path directoryPath(std::u8string(directory.begin(), directory.end()));
  const std::filesystem::path libraryPath = directoryPath / platform::DynamicLibrary::FileNameFor(kLibraryStem);

  // Only an absolute directory: a relative one would be resolved against
  // whatever the working directory of the host happens to be, and an empty
  // one would leave the bare file name to the loader's search path.
  if (directory.empty() || !directoryPath.is_absolute()) {
    FailInvalidPath(libraryPath, "the directory is not an absolute path");
  }
  // The system takes a path only up to its first null character, and would
  // check and load another file than the one named here.
  if (directory.find('\0') != std::string::npos) {
    FailInvalidPath(libraryPath, "the path contains a null character");
  }
  std::error_code libraryError;
  const std::filesystem::file_status libraryStatus =
      std::filesystem::symlink_status(libraryPath, libraryError);
  if (libraryError) FailInvalidPath(libraryPath, libraryError.message());
  if (std::filesystem::is_symlink(libraryStatus)) {
    FailInvalidPath(libraryPath, "the path is a symbolic link");
  }
  if (!std::filesystem::is_regular_file(libraryStatus)) {
    FailInvalidPath(libraryPath, "the path is not a plain file");
  }
  return libraryPath;
}

// %NAME% becomes the value of the environment variable NAME. A name that is
// not defined stays as written, percent signs included, and the text after
// its closing sign is expanded further; a "%" without a closing one stays as
// written together with everything after it.
std::string TlsBridgeLoader::ExpandEnvironmentVariables(std::string_view text) {
  std::string expanded;
  expanded.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t open = text.find('%', position);
    if (open == std::string_view::npos) {
      expanded += text.substr(position);
      break;
    }
    expanded += text.substr(position, open - position);
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) {
      expanded += text.substr(open);
      break;
    }
    const std::string name(text.substr(open + 1, close - open - 1));
    const std::optional<std::string> value =
        name.empty() ? std::nullopt : platform::GetEnvironmentVariable(name);
    if (value) {
      expanded += *value;
    } else {
      expanded += text.substr(open, close - open + 1);
    }
    position = close + 1;
  }
  return expanded;
}

}  // namespace tlsbridge
