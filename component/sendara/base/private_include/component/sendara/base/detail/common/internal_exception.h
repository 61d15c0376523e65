#pragma once

#include <string>

#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::base {

// Internal failures.
class internal_exception : public sendara_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::UnspecifiedError;

  internal_exception(oru::Result code, std::string message, const char* file, int line)
      : sendara_exception(code, std::move(message), file, line) {}
  internal_exception(std::string message, const char* file, int line)
      : internal_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
