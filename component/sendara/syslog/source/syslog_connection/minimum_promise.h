#pragma once

#include <cstdint>
#include <exception>
#include <mutex>

#include "component/oru/result_code.h"
#include "component/platform/event.h"

namespace sendara::syslog {

// A one-shot completion: the first SetValue or SetException wins, later
// ones are ignored. Each operation of a connection makes its own promise and
// its handlers hold it by shared pointer, so a handler that runs after the
// caller gave up completes a promise nobody waits on, harmlessly.
class MinimumPromise {
 public:
  MinimumPromise() : m_done(platform::Event::ResetMode::kManual) {}

  void SetValue() noexcept;
  void SetException(std::exception_ptr exception) noexcept;
  // 0 when completed without an exception; rethrows a stored exception;
  // "Operation timeout" when the time ran out.
  oru::Result Wait(std::uint32_t timeoutMilliseconds);

 private:
  std::mutex m_mutex;
  bool m_completed = false;
  std::exception_ptr m_exception;
  platform::Event m_done;
};

}  // namespace sendara::syslog
