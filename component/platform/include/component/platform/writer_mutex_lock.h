#pragma once

#include "component/platform/shared_mutex.h"
#include "component/platform/thread_annotations.h"

namespace platform {

// Holds a SharedMutex exclusively (as the writer) for its scope.
class SCOPED_CAPABILITY WriterMutexLock {
 public:
  explicit WriterMutexLock(SharedMutex* mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex->Lock(); }
  ~WriterMutexLock() RELEASE() { m_mutex->Unlock(); }
  WriterMutexLock(const WriterMutexLock&) = delete;
  WriterMutexLock& operator=(const WriterMutexLock&) = delete;

 private:
  SharedMutex* const m_mutex;
};

}  // namespace platform
