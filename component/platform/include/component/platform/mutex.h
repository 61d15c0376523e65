#pragma once

#include <mutex>

#include "component/platform/thread_annotations.h"

namespace platform {

class ConditionVariable;

// A mutex the thread-safety analysis knows: data it guards is marked
// GUARDED_BY, functions that expect it held REQUIRES. Not re-entrant: a step
// that runs both on its own and under the mutex has an unlocked form that
// REQUIRES it.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }
  // Tells the analysis the mutex is held where it cannot see it (a callback
  // run under it); checks nothing at run time.
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  friend class ConditionVariable;
  std::mutex m_mutex;
};

}  // namespace platform
