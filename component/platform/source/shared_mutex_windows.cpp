// Windows only: elsewhere the header holds the whole SharedMutex.

#include "component/platform/shared_mutex.h"

#include "windows_api.h"

namespace platform {
namespace {
static_assert(sizeof(SRWLOCK) == sizeof(void*) && alignof(SRWLOCK) <= alignof(void*));

SRWLOCK* Srw(void** lock) noexcept { return reinterpret_cast<SRWLOCK*>(lock); }
}  // namespace

void SharedMutex::Lock() { ::AcquireSRWLockExclusive(Srw(&m_lock)); }

void SharedMutex::Unlock() { ::ReleaseSRWLockExclusive(Srw(&m_lock)); }

void SharedMutex::LockShared() { ::AcquireSRWLockShared(Srw(&m_lock)); }

void SharedMutex::UnlockShared() { ::ReleaseSRWLockShared(Srw(&m_lock)); }

}  // namespace platform
