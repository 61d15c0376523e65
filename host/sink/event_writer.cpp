#include "host/sink/event_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "host/sink/diagnostic_log.h"

namespace siem_sink {

EventWriter::EventWriter(const std::string& path) : m_path(path == "-" ? "standard output" : path) {
  if (path == "-") {
    m_fd = STDOUT_FILENO;
    return;
  }
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (m_fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  m_ownsFd = true;
}

EventWriter::~EventWriter() {
  if (m_ownsFd) ::close(m_fd);
}

void EventWriter::Write(Protocol protocol, std::string_view batch, std::uint64_t events) noexcept {
  if (events == 0) return;
  std::lock_guard lock(m_mutex);
  m_received[ProtocolIndex(protocol)] += events;
  if (m_failed) return;
  if (!WriteAll(batch)) {
    m_failed = true;
    const int error = errno;
    try {
      DiagnosticLog::Line("cannot write events to " + m_path + ": " + std::strerror(error) +
                          "; events are counted but no longer written");
    } catch (...) {
      // Failed() still tells.
    }
  }
}

bool EventWriter::WriteAll(std::string_view bytes) noexcept {
  // Unbuffered: what write() took is in the file (or the pipe) for readers
  // that poll it, with nothing left in the process to flush at exit.
  while (!bytes.empty()) {
    const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

EventWriter::Counts EventWriter::Received() const {
  std::lock_guard lock(m_mutex);
  return m_received;
}

bool EventWriter::Failed() const {
  std::lock_guard lock(m_mutex);
  return m_failed;
}

}  // namespace siem_sink
