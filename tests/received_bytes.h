#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

// What a test server has received, filled on its I/O thread and waited for
// on the test's: the bytes in order of arrival, and how the first
// connection that ended did end.
class ReceivedBytes {
 public:
  void Append(const char* data, std::size_t size) {
    {
      std::lock_guard lock(m_mutex);
      m_bytes.append(data, size);
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
    return m_bytes;
  }
  // Waits until `size` bytes have arrived.
  bool WaitFor(std::size_t size, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_bytes.size() >= size; });
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
  std::string m_bytes;
  std::string m_end;
};
