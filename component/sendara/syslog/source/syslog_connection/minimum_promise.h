#pragma once

#include <cstdint>
#include <exception>

#include "component/oru/result_code.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace sendara::syslog {

// A one-shot completion: the first SetValue or SetException wins, later
// ones are ignored. Each operation of a connection makes its own promise and
// its handlers hold it by shared pointer, so a handler that runs after the
// caller gave up completes a promise nobody waits on, harmlessly.
//
// Whoever completes a promise holds it (by shared pointer) until the call
// returns: the waiter is woken after the lock is released, so that it does
// not wake only to wait for the lock, and the promise must outlive that.
class MinimumPromise {
 public:
  // Waits without end.
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

  void SetValue() noexcept EXCLUDES(m_mutex);
  void SetException(std::exception_ptr exception) noexcept EXCLUDES(m_mutex);
  // 0 when completed without an exception; rethrows a stored exception;
  // "Operation timeout" when the time ran out.
  oru::Result Wait(std::uint32_t timeoutMilliseconds) EXCLUDES(m_mutex);

 private:
  // False when the promise was completed before.
  bool Complete(std::exception_ptr exception) noexcept EXCLUDES(m_mutex);

  platform::Mutex m_mutex;
  platform::ConditionVariable m_completedChanged;
  bool m_completed GUARDED_BY(m_mutex) = false;
  std::exception_ptr m_exception GUARDED_BY(m_mutex);
};

}  // namespace sendara::syslog
