#pragma once

#include <string>

#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

// A request the server refused: sending it again cannot succeed.
class bad_request_exception : public internal_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::Prohibited;

  bad_request_exception(oru::Result code, std::string message, const char* file, int line)
      : internal_exception(code, std::move(message), file, line) {}
  bad_request_exception(std::string message, const char* file, int line)
      : bad_request_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
