// Windows only: elsewhere the header holds the whole ConditionVariable.

#include "component/platform/condition_variable.h"

#include <cstdint>

#include "windows_api.h"

namespace platform {
namespace {
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(void*) && alignof(CONDITION_VARIABLE) <= alignof(void*));
static_assert(sizeof(SRWLOCK) == sizeof(void*) && alignof(SRWLOCK) <= alignof(void*));

// The longest finite sleep: INFINITE itself would never time out.
constexpr std::uint64_t kLongestSleepMilliseconds = INFINITE - 1;

CONDITION_VARIABLE* AsConditionVariable(void** storage) noexcept {
  return reinterpret_cast<CONDITION_VARIABLE*>(storage);
}
SRWLOCK* AsSrwLock(void** storage) noexcept { return reinterpret_cast<SRWLOCK*>(storage); }
}  // namespace

void ConditionVariable::Wait(Mutex* mutex) {
  // Its only failure is a time-out, which INFINITE has not; the caller loops
  // on its condition in any case.
  ::SleepConditionVariableSRW(AsConditionVariable(&m_changed), AsSrwLock(&mutex->m_lock), INFINITE, 0);
}

bool ConditionVariable::WaitUntil(Mutex* mutex, std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return false;
  // Rounded up: rounded down, the sleep would end before the deadline and
  // go round once more for nothing.
  const auto milliseconds = static_cast<std::uint64_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
  const DWORD sleep =
      static_cast<DWORD>(milliseconds < kLongestSleepMilliseconds ? milliseconds : kLongestSleepMilliseconds);
  if (::SleepConditionVariableSRW(AsConditionVariable(&m_changed), AsSrwLock(&mutex->m_lock), sleep, 0)) {
    return true;
  }
  // A time-out before the deadline (the system's timer may end a sleep a
  // little early, and a very long wait is cut short) returns as a spurious
  // wake-up: the caller looks at its condition, which a notification may
  // have changed since, before it waits again.
  return ::GetLastError() != ERROR_TIMEOUT || std::chrono::steady_clock::now() < deadline;
}

void ConditionVariable::NotifyOne() noexcept { ::WakeConditionVariable(AsConditionVariable(&m_changed)); }

void ConditionVariable::NotifyAll() noexcept { ::WakeAllConditionVariable(AsConditionVariable(&m_changed)); }

}  // namespace platform
