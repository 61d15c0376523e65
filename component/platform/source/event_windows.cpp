// The Windows half; event_posix.cpp is the POSIX one.

#include "component/platform/event.h"

#include <system_error>

#include "component/platform/system_error.h"
#include "windows_api.h"

namespace platform {
namespace {

static_assert(Event::kInfinite == INFINITE);

HANDLE CreateEventOrThrow(Event::ResetMode mode, bool initiallySignalled) {
  const HANDLE event = ::CreateEventW(nullptr, mode == Event::ResetMode::kManual, initiallySignalled, nullptr);
  if (!event) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEventW");
  }
  return event;
}

oru::Result LastErrorResult() noexcept {
  const DWORD error = ::GetLastError();
  // A failure that did not say why is still a failure.
  return error == ERROR_SUCCESS ? oru::rc::UnspecifiedPlatformError : ResultFromWindowsError(error);
}

}  // namespace

Event::Event(ResetMode mode, bool initiallySignalled) : m_handle(CreateEventOrThrow(mode, initiallySignalled)) {}

Event::~Event() { ::CloseHandle(m_handle); }

oru::Result Event::Set() noexcept { return ::SetEvent(m_handle) ? oru::rc::NoError : LastErrorResult(); }

oru::Result Event::Reset() noexcept { return ::ResetEvent(m_handle) ? oru::rc::NoError : LastErrorResult(); }

oru::Result Event::Wait(std::uint32_t timeoutMilliseconds) noexcept {
  switch (::WaitForSingleObject(m_handle, timeoutMilliseconds)) {
    case WAIT_OBJECT_0:
      return kSignalled;
    case WAIT_TIMEOUT:
      return kTimedOut;
    case WAIT_ABANDONED:
      return oru::rc::WaitAbandoned;
    default:
      return LastErrorResult();
  }
}

}  // namespace platform
