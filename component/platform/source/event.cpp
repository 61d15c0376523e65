#include "component/platform/event.h"

#include <chrono>

namespace platform {

Event::Event(ResetMode mode, bool initiallySignalled)
    : m_mode(mode), m_signalled(initiallySignalled) {}

oru::Result Event::Set() noexcept {
  // Notified under the lock: a waiter woken by the flag may destroy the
  // event as soon as the lock is free.
  std::lock_guard lock(m_mutex);
  m_signalled = true;
  if (m_mode == ResetMode::kAuto) {
    m_signalledChanged.notify_one();
  } else {
    m_signalledChanged.notify_all();
  }
  return oru::rc::NoError;
}

oru::Result Event::Reset() noexcept {
  std::lock_guard lock(m_mutex);
  m_signalled = false;
  return oru::rc::NoError;
}

oru::Result Event::Wait(std::uint32_t timeoutMilliseconds) noexcept {
  std::unique_lock lock(m_mutex);
  const auto signalled = [this] { return m_signalled; };
  if (timeoutMilliseconds == kInfinite) {
    m_signalledChanged.wait(lock, signalled);
  } else {
    // A steady deadline: a wall-clock change must not stretch the sleep.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    if (!m_signalledChanged.wait_until(lock, deadline, signalled)) return kTimedOut;
  }
  if (m_mode == ResetMode::kAuto) m_signalled = false;
  return kSignalled;
}

}  // namespace platform
