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

#if defined(_WIN32)
  // Out of line: only the platform layer sees <windows.h>.
  void Lock() ACQUIRE();
  void Unlock() RELEASE();
#else
  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }
#endif
  // Tells the analysis the mutex is held where it cannot see it (a callback
  // run under it); checks nothing at run time.
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  friend class ConditionVariable;
#if defined(_WIN32)
  // An SRWLOCK, which is one pointer and unlocked when all zero; taken
  // exclusively only.
  void* m_lock = nullptr;
#else
  std::mutex m_mutex;
#endif
};

}  // namespace platform
