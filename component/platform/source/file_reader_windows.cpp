// The Windows half; file_reader_posix.cpp is the POSIX one.

#include "component/platform/file_reader.h"

#include <memory>
#include <type_traits>

#include "component/platform/system_error.h"
#include "windows_api.h"

namespace platform {
namespace {
struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;
}  // namespace

FileReader::Outcome FileReader::Read(const std::filesystem::path& path, std::size_t maximumBytes) {
  Outcome outcome;
  // Shared every way: a reader keeps nobody from writing, renaming or
  // removing the file, as on POSIX systems.
  const HANDLE opened =
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    outcome.result = ResultFromWindowsError(::GetLastError());
    return outcome;
  }
  const FileHandle file(opened);
  // Read in chunks rather than trusting a size taken beforehand: the file
  // may change between the two.
  std::uint8_t chunk[8192];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr)) {
      outcome.bytes.clear();
      outcome.result = oru::rc::MediaError;
      return outcome;
    }
    if (n == 0) break;  // the end of the file
    if (outcome.bytes.size() + n > maximumBytes) {
      outcome.bytes.clear();
      outcome.result = oru::rc::FileIsTooBig;
      return outcome;
    }
    outcome.bytes.insert(outcome.bytes.end(), chunk, chunk + n);
  }
  return outcome;
}

}  // namespace platform
