#include "host/program/input_lines.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace reference_host {
namespace {

// How often a silent input looks at the stop request.
constexpr int kPollMilliseconds = 100;
constexpr std::size_t kReadSize = 64 * 1024;

}  // namespace

bool InputLines::Next(std::string& line) {
  char bytes[kReadSize];
  for (;;) {
    if (m_stopRequested) return false;
    if (m_lines.Next(line)) return true;
    if (m_ended) return m_lines.Rest(line);
    pollfd descriptor{m_fd, POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, kPollMilliseconds);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t got = ::read(m_fd, bytes, kReadSize);
    if (got > 0) m_lines.Append(std::string_view(bytes, static_cast<std::size_t>(got)));
    if (got == 0) m_ended = true;
    if (got < 0 && errno != EINTR && errno != EAGAIN) m_ended = true;
  }
}

}  // namespace reference_host
