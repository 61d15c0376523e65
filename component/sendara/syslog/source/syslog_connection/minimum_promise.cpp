#include "component/sendara/syslog/source/syslog_connection/minimum_promise.h"

#include <chrono>

#include "component/platform/mutex_lock.h"

namespace sendara::syslog {

bool MinimumPromise::Complete(std::exception_ptr exception) noexcept {
  {
    platform::MutexLock lock(&m_mutex);
    if (m_completed) return false;
    m_completed = true;
    m_exception = std::move(exception);
  }
  // Outside the lock: a waiter woken under it would find the lock taken and
  // sleep once more, a second thread switch on every send.
  m_completedChanged.NotifyAll();
  return true;
}

void MinimumPromise::SetValue() noexcept { Complete(nullptr); }

void MinimumPromise::SetException(std::exception_ptr exception) noexcept { Complete(std::move(exception)); }

oru::Result MinimumPromise::Wait(std::uint32_t timeoutMilliseconds) {
  std::exception_ptr failure;
  {
    platform::MutexLock lock(&m_mutex);
    if (timeoutMilliseconds == kInfinite) {
      while (!m_completed) m_completedChanged.Wait(&m_mutex);
    } else {
      // A steady deadline: a wall-clock change must not stretch the wait.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
      while (!m_completed) {
        // A completion that came with the time-out still counts.
        if (!m_completedChanged.WaitUntil(&m_mutex, deadline) && !m_completed) return oru::rc::OperationTimeout;
      }
    }
    // Taken out: the exception object then belongs to this thread alone,
    // and is not freed by a pool thread dropping the promise while this one
    // still reads it.
    failure = std::move(m_exception);
  }
  if (failure) std::rethrow_exception(failure);
  return oru::rc::NoError;
}

}  // namespace sendara::syslog
