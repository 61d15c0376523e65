#pragma once

#include <cstdint>

namespace sendara::base {

// The levels the component traces at.
struct TraceLevel {
  static constexpr std::int32_t kError = 300;    // errors
  static constexpr std::int32_t kWarning = 500;  // failures that are retried
  static constexpr std::int32_t kInfo = 700;     // normal flow
  static constexpr std::int32_t kDetail = 800;   // per-event detail
};

}  // namespace sendara::base
