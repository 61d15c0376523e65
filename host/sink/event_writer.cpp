#include "host/sink/event_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "component/platform/mutex_lock.h"
#include "host/sink/diagnostic_log.h"

namespace siem_sink {

EventWriter::EventWriter(const std::string& path, bool numberConnections)
    : m_path(path == "-" ? "standard output" : path), m_numberConnections(numberConnections) {
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

void EventWriter::Write(Protocol protocol, std::string_view batch, std::uint64_t events,
                        std::uint64_t connection) noexcept {
  if (events == 0) return;
  // Numbered outside the lock: the other connections need not wait for it.
  std::string numbered;
  if (m_numberConnections) {
    if (!Numbered(batch, connection, numbered)) {
      // Counted and never written, as a failed write is.
      DiagnosticLog::Line("out of memory numbering a batch of events");
      platform::MutexLock lock(&m_mutex);
      m_received[ProtocolIndex(protocol)] += events;
      m_failed = true;
      return;
    }
    batch = numbered;
  }
  std::function<void()> reached;
  {
    platform::MutexLock lock(&m_mutex);
    m_received[ProtocolIndex(protocol)] += events;
    if (!m_failed && !WriteAll(batch)) {
      m_failed = true;
      const int error = errno;
      try {
        DiagnosticLog::Line("cannot write events to " + m_path + ": " + std::strerror(error) +
                            "; events are counted but no longer written");
      } catch (...) {
        // Failed() still tells.
      }
    }
    // After the write: a reader that sees the time finds the events in the
    // output.
    m_last = Clock::now();
    if (m_total == 0) m_first = m_last;
    m_total += events;
    if (m_reached && m_total >= m_notifyAt) reached.swap(m_reached);
  }
  if (!reached) return;
  try {
    reached();
  } catch (...) {
    DiagnosticLog::Line("what was to follow the expected count of events failed");
  }
}

bool EventWriter::Numbered(std::string_view batch, std::uint64_t connection, std::string& numbered) noexcept {
  try {
    const std::string prefix = std::to_string(connection) + ' ';
    numbered.reserve(batch.size() + 64 * prefix.size());
    while (!batch.empty()) {
      const std::size_t end = batch.find('\n');
      const std::size_t length = end == std::string_view::npos ? batch.size() : end + 1;
      numbered += prefix;
      numbered += batch.substr(0, length);
      batch.remove_prefix(length);
    }
    return true;
  } catch (...) {
    return false;
  }
}

void EventWriter::NotifyAt(std::uint64_t events, std::function<void()> reached) {
  platform::MutexLock lock(&m_mutex);
  m_notifyAt = events;
  m_reached = std::move(reached);
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
  platform::MutexLock lock(&m_mutex);
  return m_received;
}

bool EventWriter::Failed() const {
  platform::MutexLock lock(&m_mutex);
  return m_failed;
}

std::optional<std::pair<EventWriter::Clock::time_point, EventWriter::Clock::time_point>> EventWriter::ArrivalTimes()
    const {
  platform::MutexLock lock(&m_mutex);
  if (m_total == 0) return std::nullopt;
  return std::pair(m_first, m_last);
}

}  // namespace siem_sink
