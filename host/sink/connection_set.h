#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "host/sink/connection.h"

namespace siem_sink {

// The open connections of one listener, held weakly: a connection lives as
// long as its own pending operations, and the set only reaches it to stop
// it. Thread-safe.
class ConnectionSet {
 public:
  // A connection added after StopAll is stopped at once: its accept raced
  // with the stop.
  void Add(const std::shared_ptr<Connection>& connection);
  void StopAll();

 private:
  static constexpr std::size_t kFirstPrune = 64;

  std::mutex m_mutex;
  std::vector<std::weak_ptr<Connection>> m_connections;
  std::size_t m_pruneAt = kFirstPrune;
  bool m_stopped = false;
};

}  // namespace siem_sink
