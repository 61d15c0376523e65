#include "component/sendara/syslog/source/syslog_connection/minimum_promise.h"

namespace sendara::syslog {

void MinimumPromise::SetValue() noexcept {
  {
    std::lock_guard lock(m_mutex);
    if (m_completed) return;
    m_completed = true;
  }
  m_done.Set();
}

void MinimumPromise::SetException(std::exception_ptr exception) noexcept {
  {
    std::lock_guard lock(m_mutex);
    if (m_completed) return;
    m_completed = true;
    m_exception = std::move(exception);
  }
  m_done.Set();
}

oru::Result MinimumPromise::Wait(std::uint32_t timeoutMilliseconds) {
  const oru::Result waited = m_done.Wait(timeoutMilliseconds);
  if (waited == platform::Event::kTimedOut) return oru::rc::OperationTimeout;
  if (oru::Failed(waited)) return waited;
  std::exception_ptr failure;
  {
    std::lock_guard lock(m_mutex);
    // Taken out: the exception object then belongs to this thread alone,
    // and is not freed by a pool thread dropping the promise while this one
    // still reads it.
    failure = std::move(m_exception);
  }
  if (failure) std::rethrow_exception(failure);
  return oru::rc::NoError;
}

}  // namespace sendara::syslog
