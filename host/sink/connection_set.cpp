#include "host/sink/connection_set.h"

#include <algorithm>

#include "component/platform/mutex_lock.h"

namespace siem_sink {

void ConnectionSet::Add(const std::shared_ptr<Connection>& connection) {
  {
    platform::MutexLock lock(&m_mutex);
    if (!m_stopped) {
      // Ended connections go here rather than when they end, so that a
      // connection never has to know the set it is in; only when the set
      // has doubled, so that many open connections cost no quadratic time.
      if (m_connections.size() >= m_pruneAt) {
        std::erase_if(m_connections, [](const std::weak_ptr<Connection>& held) { return held.expired(); });
        m_pruneAt = std::max(kFirstPrune, 2 * m_connections.size());
      }
      m_connections.push_back(connection);
      return;
    }
  }
  connection->Stop();
}

void ConnectionSet::StopAll() {
  std::vector<std::weak_ptr<Connection>> connections;
  {
    platform::MutexLock lock(&m_mutex);
    m_stopped = true;
    connections.swap(m_connections);
  }
  for (const std::weak_ptr<Connection>& held : connections) {
    if (const std::shared_ptr<Connection> connection = held.lock()) connection->Stop();
  }
}

}  // namespace siem_sink
