// Windows only: elsewhere the header holds the whole Mutex.

#include "component/platform/mutex.h"

#include "windows_api.h"

namespace platform {
namespace {
static_assert(sizeof(SRWLOCK) == sizeof(void*) && alignof(SRWLOCK) <= alignof(void*));
}  // namespace

void Mutex::Lock() { ::AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&m_lock)); }

void Mutex::Unlock() { ::ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&m_lock)); }

}  // namespace platform
