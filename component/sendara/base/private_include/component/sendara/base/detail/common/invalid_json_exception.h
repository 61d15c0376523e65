#pragma once

#include <string>

#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

// Malformed JSON input.
class invalid_json_exception : public internal_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::SyntaxError;

  invalid_json_exception(oru::Result code, std::string message, const char* file, int line)
      : internal_exception(code, std::move(message), file, line) {}
  invalid_json_exception(std::string message, const char* file, int line)
      : invalid_json_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
