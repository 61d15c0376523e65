#pragma once

#include <string>

#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

// Failed system calls: events, threads, waits, file enumeration.
class tools_exception : public internal_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::UnspecifiedPlatformError;

  tools_exception(oru::Result code, std::string message, const char* file, int line)
      : internal_exception(code, std::move(message), file, line) {}
  tools_exception(std::string message, const char* file, int line)
      : tools_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
