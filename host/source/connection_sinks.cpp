#include "host/connection_sinks.h"

#include <chrono>
#include <utility>

#include "component/platform/mutex_lock.h"

namespace reference_host {

ConnectionSinks::ConnectionSinks(Observer observer) : m_observer(std::move(observer)) {}

oru::Result ConnectionSinks::Connected(std::string_view serverAddress,
                                       const std::optional<std::string>& tunnel) noexcept {
  return Add(Kind::kConnected, 0, serverAddress, tunnel);
}

oru::Result ConnectionSinks::ConnectionError(std::uint32_t reason, std::string_view serverAddress,
                                             const std::optional<std::string>& tunnel) noexcept {
  return Add(Kind::kConnectionError, reason, serverAddress, tunnel);
}

oru::Result ConnectionSinks::IncorrectSettings(std::uint32_t reason) noexcept {
  return Add(Kind::kIncorrectSettings, reason, {}, std::nullopt);
}

oru::Result ConnectionSinks::Add(Kind kind, std::uint32_t reason, std::string_view serverAddress,
                                 const std::optional<std::string>& tunnel) noexcept {
  try {
    Record record{kind, reason, std::string(serverAddress), tunnel};
    Observer observer;
    {
      platform::MutexLock lock(&m_mutex);
      m_records.push_back(record);
      observer = m_observer;
    }
    m_recordAdded.NotifyAll();
    if (observer) observer(record);
    return oru::rc::NoError;
  } catch (...) {
    return oru::rc::Unexpected;
  }
}

void ConnectionSinks::SetObserver(Observer observer) {
  Observer replaced;
  {
    platform::MutexLock lock(&m_mutex);
    replaced = std::exchange(m_observer, std::move(observer));
  }
  // What the old observer holds is released outside the lock.
}

std::vector<ConnectionSinks::Record> ConnectionSinks::Records() const {
  platform::MutexLock lock(&m_mutex);
  return m_records;
}

bool ConnectionSinks::WaitFor(std::size_t count, std::chrono::milliseconds timeout) const {
  platform::MutexLock lock(&m_mutex);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (m_records.size() < count) {
    // A record that came with the time-out still counts.
    if (!m_recordAdded.WaitUntil(&m_mutex, deadline)) return m_records.size() >= count;
  }
  return true;
}

}  // namespace reference_host
