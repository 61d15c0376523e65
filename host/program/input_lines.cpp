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
  for (;;) {
    if (m_stopRequested) return false;
    const std::size_t end = m_buffer.find('\n', m_start);
    if (m_skipping) {
      if (end != std::string::npos) {
        m_start = end + 1;
        m_skipping = false;
        continue;
      }
      m_start = m_buffer.size();
      if (m_ended) return false;
    } else if (end != std::string::npos && end - m_start <= m_maximumLine) {
      line.assign(m_buffer, m_start, end - m_start);
      m_start = end + 1;
      return true;
    } else if (m_buffer.size() - m_start > m_maximumLine) {
      line.assign(m_buffer, m_start, m_maximumLine);
      m_start += m_maximumLine;
      m_skipping = true;
      return true;
    } else if (m_ended) {
      if (m_start >= m_buffer.size()) return false;
      line.assign(m_buffer, m_start, std::string::npos);
      m_start = m_buffer.size();
      return true;
    }
    // Keep only the unfinished line before reading on.
    m_buffer.erase(0, m_start);
    m_start = 0;
    pollfd descriptor{m_fd, POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, kPollMilliseconds);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + kReadSize);
    const ssize_t got = ::read(m_fd, m_buffer.data() + old, kReadSize);
    m_buffer.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got == 0) m_ended = true;
    if (got < 0 && errno != EINTR && errno != EAGAIN) m_ended = true;
  }
}

}  // namespace reference_host
