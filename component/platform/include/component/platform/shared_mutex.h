#pragma once

#include <shared_mutex>

#include "component/platform/thread_annotations.h"

namespace platform {

// A reader/writer mutex the thread-safety analysis knows: held shared by
// any number of readers at once, or exclusively by one writer. For paths
// where readers must not serialise on each other; elsewhere a Mutex does.
// Data it guards is read under either hold and written under the exclusive
// one only. Not re-entrant, neither way.
class CAPABILITY("shared mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

#if defined(_WIN32)
  // Out of line: only the platform layer sees <windows.h>.
  void Lock() ACQUIRE();
  void Unlock() RELEASE();
  void LockShared() ACQUIRE_SHARED();
  void UnlockShared() RELEASE_SHARED();
#else
  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }
  void LockShared() ACQUIRE_SHARED() { m_mutex.lock_shared(); }
  void UnlockShared() RELEASE_SHARED() { m_mutex.unlock_shared(); }
#endif
  // Tell the analysis the mutex is held where it cannot see it (an outer
  // frame of this thread holds it); check nothing at run time.
  void AssertHeld() ASSERT_CAPABILITY(this) {}
  void AssertReaderHeld() ASSERT_SHARED_CAPABILITY(this) {}

 private:
#if defined(_WIN32)
  // An SRWLOCK, which is one pointer and unlocked when all zero.
  void* m_lock = nullptr;
#else
  std::shared_mutex m_mutex;
#endif
};

}  // namespace platform
