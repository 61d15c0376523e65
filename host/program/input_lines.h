#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "host/program/line_splitter.h"

namespace reference_host {

// Lines of the event input, read from a file descriptor in a way a stop
// request can interrupt: a pipe that stays open and silent must not keep the
// program from stopping on SIGTERM (a plain stream read would wait on).
class InputLines {
 public:
  // No event comes near this; a line without end must not take all memory.
  static constexpr std::size_t kDefaultMaximumLine = 64u << 20;

  // Does not own `fd`.
  InputLines(int fd, const std::atomic<bool>& stopRequested, std::size_t maximumLine = kDefaultMaximumLine)
      : m_fd(fd), m_stopRequested(stopRequested), m_lines(maximumLine) {}

  // The next line without its line feed; false at the end of the input, on
  // a read error, or once a stop is requested. A line longer than the
  // maximum comes as its first `maximumLine` bytes, which no parser takes
  // for an event; the rest of it is skipped.
  bool Next(std::string& line);

 private:
  const int m_fd;
  const std::atomic<bool>& m_stopRequested;
  LineSplitter m_lines;
  bool m_ended = false;
};

}  // namespace reference_host
