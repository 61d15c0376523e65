#include "host/sink/diagnostic_log.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace siem_sink {

void DiagnosticLog::Line(std::string_view text) noexcept {
  try {
    std::string line = "edr-siem-sink: ";
    line += text;
    line += '\n';
    std::size_t written = 0;
    while (written < line.size()) {
      const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      // Nowhere left to tell of a failing standard error.
      if (n <= 0) return;
      written += static_cast<std::size_t>(n);
    }
  } catch (...) {
    // Out of memory for a diagnostic: the line is dropped, the sink goes on.
  }
}

}  // namespace siem_sink
