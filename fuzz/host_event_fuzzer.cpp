// Feeds the input to the host program's event reader as its input file (a
// memory file, read through InputLines as the program reads a file or a
// pipe) and parses each line as the program does. Nothing may crash, trip a
// sanitizer or hang; the lines put together again are the input, and a line
// that does not parse says why.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/program/host_event.h"
#include "host/program/input_lines.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A file in memory holding `bytes`, read from its start.
int MemoryFile(std::string_view bytes) {
  const int fd = ::memfd_create("host_event_fuzzer", MFD_CLOEXEC);
  Check(fd >= 0);
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    Check(n > 0);
    written += static_cast<std::size_t>(n);
  }
  Check(::lseek(fd, 0, SEEK_SET) == 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const int fd = MemoryFile(input);
  const std::atomic<bool> stopRequested{false};
  reference_host::InputLines lines(fd, stopRequested);

  std::string joined;
  std::string line;
  while (lines.Next(line)) {
    joined += line;
    joined += '\n';
    std::string error;
    const std::optional<reference_host::HostEvent> event = reference_host::HostEvent::Parse(line, error);
    Check(event.has_value() || !error.empty());
  }
  ::close(fd);
  Check(joined == input || (!input.ends_with('\n') && joined == std::string(input) + '\n'));
  return 0;
}
