#pragma once

#include <cstdint>

#include "component/oru/result_code.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace platform {

// A kernel-style event: signalled or not, woken waiters see the signal.
// An auto-reset event lets exactly one wait through per Set and clears
// itself; a manual-reset event stays signalled until Reset. On Windows it is
// the kernel's event object itself.
class Event {
 public:
  enum class ResetMode { kAuto, kManual };

  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
  static constexpr oru::Result kSignalled = 0;
  static constexpr oru::Result kTimedOut = 1;

  // Throws std::system_error, with a Windows error code, when Windows has
  // no event object to give; elsewhere it does not fail.
  explicit Event(ResetMode mode, bool initiallySignalled = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Wait: kSignalled when the event was (or became) signalled, kTimedOut when
  // `timeoutMilliseconds` ran out first (kInfinite waits for ever). On
  // Windows all three fail with the system's error for a handle the kernel
  // refuses, which a live Event never is.
#if defined(_WIN32)
  ~Event();

  // No lock of ours: the kernel orders them.
  oru::Result Set() noexcept;
  oru::Result Reset() noexcept;
  oru::Result Wait(std::uint32_t timeoutMilliseconds) noexcept;

 private:
  void* const m_handle;  // the event's HANDLE
#else
  oru::Result Set() noexcept EXCLUDES(m_mutex);
  oru::Result Reset() noexcept EXCLUDES(m_mutex);
  oru::Result Wait(std::uint32_t timeoutMilliseconds) noexcept EXCLUDES(m_mutex);

 private:
  const ResetMode m_mode;
  Mutex m_mutex;
  ConditionVariable m_signalledChanged;
  bool m_signalled GUARDED_BY(m_mutex);
#endif
};

}  // namespace platform
