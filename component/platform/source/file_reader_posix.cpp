// The POSIX half; file_reader_windows.cpp is the Windows one.

#include "component/platform/file_reader.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "component/platform/system_error.h"

namespace platform {
namespace {
struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
}  // namespace

FileReader::Outcome FileReader::Read(const std::filesystem::path& path, std::size_t maximumBytes) {
  Outcome outcome;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    outcome.result = ResultFromErrno(errno);
    return outcome;
  }
  // Read in chunks rather than trusting a size taken beforehand: the file
  // may change between the two.
  std::uint8_t chunk[8192];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    if (outcome.bytes.size() + n > maximumBytes) {
      outcome.bytes.clear();
      outcome.result = oru::rc::FileIsTooBig;
      return outcome;
    }
    outcome.bytes.insert(outcome.bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(file.get())) {
    outcome.bytes.clear();
    outcome.result = oru::rc::MediaError;
  }
  return outcome;
}

}  // namespace platform
