#pragma once

#include <atomic>
#include <string>

namespace reference_host {

// Lines of the event input, read from a file descriptor in a way a stop
// request can interrupt: a pipe that stays open and silent must not keep the
// program from stopping on SIGTERM (a plain stream read would wait on).
class InputLines {
 public:
  // Does not own `fd`.
  InputLines(int fd, const std::atomic<bool>& stopRequested) : m_fd(fd), m_stopRequested(stopRequested) {}

  // The next line without its line feed; false at the end of the input, on
  // a read error, or once a stop is requested.
  bool Next(std::string& line);

 private:
  const int m_fd;
  const std::atomic<bool>& m_stopRequested;
  std::string m_buffer;
  std::size_t m_start = 0;
  bool m_ended = false;
};

}  // namespace reference_host
