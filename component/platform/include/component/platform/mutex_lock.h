#pragma once

#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace platform {

// Holds a Mutex for its scope. Unlock and Lock let a scope leave the mutex
// for a call that must run outside it (host code, a wait) and take it again.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex->Lock(); }
  ~MutexLock() RELEASE() {
    if (m_held) m_mutex->Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() {
    m_mutex->Unlock();
    m_held = false;
  }
  void Lock() ACQUIRE() {
    m_mutex->Lock();
    m_held = true;
  }

 private:
  Mutex* const m_mutex;
  bool m_held = true;
};

}  // namespace platform
