#pragma once

#include <cstddef>
#include <cstdint>

#include "component/oru/i_object.h"

namespace oru {

// The host's tracer. The host makes it safe for concurrent use.
class ITracer : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x6EF3329B;

  // True when lines of `level` are written (300 errors, 500 retried
  // failures, 700 normal flow, 800 per-event detail).
  virtual bool IsLevelEnabled(std::int32_t level) = 0;
  // Writes one line of UTF-8 text (without a line terminator).
  virtual void Trace(std::int32_t level, const char* text, std::size_t size) = 0;

 protected:
  ~ITracer() = default;
};

}  // namespace oru
