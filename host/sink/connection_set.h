#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "host/sink/connection.h"

namespace siem_sink {

// The open connections of one listener, held weakly: a connection lives as
// long as its own pending operations, and the set only reaches it to stop
// it. Thread-safe.
class ConnectionSet {
 public:
  // A connection added after StopAll is stopped at once: its accept raced
  // with the stop.
  // Connections are stopped outside the lock.
  void Add(const std::shared_ptr<Connection>& connection) EXCLUDES(m_mutex);
  void StopAll() EXCLUDES(m_mutex);

 private:
  static constexpr std::size_t kFirstPrune = 64;

  platform::Mutex m_mutex;
  std::vector<std::weak_ptr<Connection>> m_connections GUARDED_BY(m_mutex);
  std::size_t m_pruneAt GUARDED_BY(m_mutex) = kFirstPrune;
  bool m_stopped GUARDED_BY(m_mutex) = false;
};

}  // namespace siem_sink
