#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"

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

  bool IsLevelEnabled(std::int32_t level) override;
  void Trace(std::int32_t level, const char* text, std::size_t size) override;

  void SetMaximumLevel(std::int32_t maximumLevel);
  std::vector<Line> Lines() const;
  // The recorded lines that contain `text`.
  std::vector<Line> LinesContaining(std::string_view text) const;
  std::size_t Count(std::string_view text) const;
  // Waits until a line containing `text` has been recorded.
  bool WaitFor(std::string_view text, std::chrono::milliseconds timeout) const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_lineAdded;
  std::int32_t m_maximumLevel;
  std::ostream* m_echo;
  const bool m_record;
  std::vector<Line> m_lines;
};

}  // namespace reference_host
