// The POSIX half; event_windows.cpp is the Windows one.

#include "component/platform/event.h"

#include <chrono>

#include "component/platform/mutex_lock.h"

namespace platform {

Event::Event(ResetMode mode, bool initiallySignalled)
    : m_mode(mode), m_signalled(initiallySignalled) {}

oru::Result Event::Set() noexcept {
  // Notified under the lock: a waiter woken by the flag may destroy the
  // event as soon as the lock is free.
  MutexLock lock(&m_mutex);
  m_signalled = true;
  if (m_mode == ResetMode::kAuto) {
    m_signalledChanged.NotifyOne();
  } else {
    m_signalledChanged.NotifyAll();
  }
  return oru::rc::NoError;
}

oru::Result Event::Reset() noexcept {
  MutexLock lock(&m_mutex);
  m_signalled = false;
  return oru::rc::NoError;
}

oru::Result Event::Wait(std::uint32_t timeoutMilliseconds) noexcept {
  MutexLock lock(&m_mutex);
  if (timeoutMilliseconds == kInfinite) {
    while (!m_signalled) m_signalledChanged.Wait(&m_mutex);
  } else {
    // A steady deadline: a wall-clock change must not stretch the sleep.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (!m_signalled) {
      // A signal that came with the time-out still counts.
      if (!m_signalledChanged.WaitUntil(&m_mutex, deadline) && !m_signalled) return kTimedOut;
    }
  }
  if (m_mode == ResetMode::kAuto) m_signalled = false;
  return kSignalled;
}

}  // namespace platform
