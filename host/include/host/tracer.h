#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace reference_host {

// The host's tracer: accepts the levels up to a threshold, records every
// line it accepts with its level (for tests to look at; a long-running
// program records none), and optionally echoes them to a stream.
class Tracer final : public oru::BasicObject<Tracer, oru::UncountedObject, oru::ITracer> {
 public:
  struct Line {
    std::int32_t level;
    std::string text;
  };

  // Accepts levels up to and including `maximumLevel`.
  explicit Tracer(std::int32_t maximumLevel = 800, std::ostream* echo = nullptr, bool record = true);

  bool IsLevelEnabled(std::int32_t level) override EXCLUDES(m_mutex);
  void Trace(std::int32_t level, const char* text, std::size_t size) override EXCLUDES(m_mutex);

  void SetMaximumLevel(std::int32_t maximumLevel) EXCLUDES(m_mutex);
  std::vector<Line> Lines() const EXCLUDES(m_mutex);
  // The recorded lines that contain `text`.
  std::vector<Line> LinesContaining(std::string_view text) const EXCLUDES(m_mutex);
  std::size_t Count(std::string_view text) const EXCLUDES(m_mutex);
  // Waits until a line containing `text` has been recorded.
  bool WaitFor(std::string_view text, std::chrono::milliseconds timeout) const EXCLUDES(m_mutex);
  void Clear() EXCLUDES(m_mutex);

 private:
  bool HasLineContainingLocked(std::string_view text) const REQUIRES(m_mutex);

  mutable platform::Mutex m_mutex;
  mutable platform::ConditionVariable m_lineAdded;
  // Read by every trace line the component builds, on every event: no lock.
  std::atomic<std::int32_t> m_maximumLevel;
  // Written under the lock, so that echoed lines do not interleave.
  std::ostream* const m_echo PT_GUARDED_BY(m_mutex);
  const bool m_record;
  std::vector<Line> m_lines GUARDED_BY(m_mutex);
};

}  // namespace reference_host
