#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace platform {

// A condition variable for waits under a Mutex, which every wait expects
// held and holds again when it returns; one condition variable is used with
// one mutex only. Waits may wake spuriously: callers loop
// on their condition, in code the thread-safety analysis can see.
class ConditionVariable {
 public:
  ConditionVariable() = default;
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

#if defined(_WIN32)
  // Out of line: only the platform layer sees <windows.h>.
  void Wait(Mutex* mutex) REQUIRES(mutex);
  // False once `deadline` has passed.
  bool WaitUntil(Mutex* mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex);
  void NotifyOne() noexcept;
  void NotifyAll() noexcept;
#else
  void Wait(Mutex* mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex->m_mutex, std::adopt_lock);
    m_changed.wait(lock);
    lock.release();
  }
  // False once `deadline` has passed.
  bool WaitUntil(Mutex* mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex->m_mutex, std::adopt_lock);
    const bool notTimedOut = m_changed.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notTimedOut;
  }
  void NotifyOne() noexcept { m_changed.notify_one(); }
  void NotifyAll() noexcept { m_changed.notify_all(); }
#endif

 private:
#if defined(_WIN32)
  // A CONDITION_VARIABLE, which is one pointer and has no waiter when all
  // zero.
  void* m_changed = nullptr;
#else
  std::condition_variable m_changed;
#endif
};

}  // namespace platform
