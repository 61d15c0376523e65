#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// What a test server has received, filled on its I/O thread and waited for
// on the test's: the bytes of each connection in order of arrival, the
// connections one after another in the order they were accepted (one I/O
// thread reads them by turns, and a late read of a closed connection must
// not cut a message of the next in two), and how the first connection that
// ended did end.
class ReceivedBytes {
 public:
  // Data of connection `connection`, numbered from 0 in order of accepting.
  void Append(std::size_t connection, const char* data, std::size_t size) {
    {
      std::lock_guard lock(m_mutex);
      if (m_connections.size() <= connection) m_connections.resize(connection + 1);
      m_connections[connection].append(data, size);
      m_size += size;
    }
    m_changed.notify_all();
  }
  // Keeps the first end only.
  void SetEnd(std::string end) {
    {
      std::lock_guard lock(m_mutex);
      if (m_end.empty()) m_end = std::move(end);
    }
    m_changed.notify_all();
  }

  std::string Bytes() const {
    std::lock_guard lock(m_mutex);
    std::string bytes;
    bytes.reserve(m_size);
    for (const std::string& connection : m_connections) bytes += connection;
    return bytes;
  }
  // Each connection's bytes, in the order they were accepted.
  std::vector<std::string> Connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
  }
  // Waits until `size` bytes have arrived.
  bool WaitFor(std::size_t size, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_size >= size; });
  }
  // The first end, or an empty text when none came in time.
  std::string WaitForEnd(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return !m_end.empty(); });
    return m_end;
  }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<std::string> m_connections;
  std::size_t m_size = 0;
  std::string m_end;
};
