#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "host/sink/protocol.h"

namespace siem_sink {

// The one writer of the output, shared by every connection. A batch (the
// events of one read, one datagram or one POST) goes out whole under a lock,
// in one write where the system allows, so lines of several connections
// never interleave, and is on its way to the file before Write returns.
class EventWriter {
 public:
  using Counts = std::array<std::uint64_t, kProtocolCount>;
  using Clock = std::chrono::system_clock;

  // "-" is standard output; a file is created or truncated. Throws
  // std::system_error when the file cannot be opened. With
  // `numberConnections` every line starts with the number of the connection
  // it came on and a space.
  explicit EventWriter(const std::string& path, bool numberConnections = false);
  ~EventWriter();
  EventWriter(const EventWriter&) = delete;
  EventWriter& operator=(const EventWriter&) = delete;

  // `batch` holds `events` lines, each ended by a line feed. The events
  // count as received even when the output fails: the failure is reported
  // once, on standard error and by Failed(). `connection` is the number
  // the events came on, 0 for datagrams.
  void Write(Protocol protocol, std::string_view batch, std::uint64_t events, std::uint64_t connection = 0) noexcept
      EXCLUDES(m_mutex);

  // A number for a new connection: 1, 2, ... in the order of the calls.
  std::uint64_t NextConnection() { return ++m_connections; }

  // `reached` runs once, on the thread of the batch that brings the count
  // over all protocols to `events` or beyond, after that batch is written
  // and with no lock held. Set before the first Write.
  void NotifyAt(std::uint64_t events, std::function<void()> reached) EXCLUDES(m_mutex);

  Counts Received() const EXCLUDES(m_mutex);
  bool Failed() const EXCLUDES(m_mutex);
  // When the first and the latest batch were written, on the system's
  // clock so that other programs' times compare; none before any event.
  std::optional<std::pair<Clock::time_point, Clock::time_point>> ArrivalTimes() const EXCLUDES(m_mutex);

 private:
  // Under the lock: batches of several connections must not interleave.
  bool WriteAll(std::string_view bytes) noexcept REQUIRES(m_mutex);
  // `batch` with "<connection> " before each line; false when out of memory.
  static bool Numbered(std::string_view batch, std::uint64_t connection, std::string& numbered) noexcept;

  mutable platform::Mutex m_mutex;
  // Set by the constructor alone.
  int m_fd = -1;
  bool m_ownsFd = false;
  std::string m_path;
  const bool m_numberConnections;
  std::atomic<std::uint64_t> m_connections{0};
  bool m_failed GUARDED_BY(m_mutex) = false;
  Counts m_received GUARDED_BY(m_mutex) = {};
  std::uint64_t m_total GUARDED_BY(m_mutex) = 0;
  Clock::time_point m_first GUARDED_BY(m_mutex);
  Clock::time_point m_last GUARDED_BY(m_mutex);
  std::uint64_t m_notifyAt GUARDED_BY(m_mutex) = 0;
  std::function<void()> m_reached GUARDED_BY(m_mutex);
};

}  // namespace siem_sink
