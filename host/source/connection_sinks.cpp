#include "host/connection_sinks.h"

#include <utility>

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
      std::lock_guard lock(m_mutex);
      m_records.push_back(record);
      observer = m_observer;
    }
    m_recordAdded.notify_all();
    if (observer) observer(record);
    return oru::rc::NoError;
  } catch (...) {
    return oru::rc::Unexpected;
  }
}

void ConnectionSinks::SetObserver(Observer observer) {
  Observer replaced;
  {
    std::lock_guard lock(m_mutex);
    replaced = std::exchange(m_observer, std::move(observer));
  }
  // What the old observer holds is released outside the lock.
}

std::vector<ConnectionSinks::Record> ConnectionSinks::Records() const {
  std::lock_guard lock(m_mutex);
  return m_records;
}

bool ConnectionSinks::WaitFor(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_recordAdded.wait_for(lock, timeout, [&] { return m_records.size() >= count; });
}

}  // namespace reference_host
