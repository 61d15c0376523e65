#pragma once

#include "component/platform/shared_mutex.h"
#include "component/platform/thread_annotations.h"

namespace platform {

// Holds a SharedMutex shared (as a reader) for its scope.
class SCOPED_CAPABILITY ReaderMutexLock {
 public:
  explicit ReaderMutexLock(SharedMutex* mutex) ACQUIRE_SHARED(mutex) : m_mutex(mutex) { m_mutex->LockShared(); }
  ~ReaderMutexLock() RELEASE() { m_mutex->UnlockShared(); }
  ReaderMutexLock(const ReaderMutexLock&) = delete;
  ReaderMutexLock& operator=(const ReaderMutexLock&) = delete;

 private:
  SharedMutex* const m_mutex;
};

}  // namespace platform
