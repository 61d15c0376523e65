#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "component/oru/result_code.h"

namespace platform {

// A kernel-style event: signalled or not, woken waiters see the signal.
// An auto-reset event lets exactly one wait through per Set and clears
// itself; a manual-reset event stays signalled until Reset.
class Event {
 public:
  enum class ResetMode { kAuto, kManual };

  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
  static constexpr oru::Result kSignalled = 0;
  static constexpr oru::Result kTimedOut = 1;

  explicit Event(ResetMode mode, bool initiallySignalled = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  oru::Result Set() noexcept;
  oru::Result Reset() noexcept;

  // kSignalled when the event was (or became) signalled, kTimedOut when
  // `timeoutMilliseconds` ran out first (kInfinite waits for ever).
  oru::Result Wait(std::uint32_t timeoutMilliseconds) noexcept;

 private:
  const ResetMode m_mode;
  std::mutex m_mutex;
  std::condition_variable m_signalledChanged;
  bool m_signalled;
};

}  // namespace platform
