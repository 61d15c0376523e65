#pragma once

#include <string_view>

namespace siem_sink {

// Lines about the sink itself, on standard error. Each line goes out in one
// write, so that lines of several connections never mix.
class DiagnosticLog {
 public:
  static void Line(std::string_view text) noexcept;
};

}  // namespace siem_sink
