#pragma once

#include <string>

#include "component/sendara/base/detail/common/connection_exception.h"

namespace sendara::base {

// HTTP status failures.
class http_exception : public connection_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::NetworkError;

  http_exception(oru::Result code, std::string message, const char* file, int line)
      : connection_exception(code, std::move(message), file, line) {}
  http_exception(std::string message, const char* file, int line)
      : http_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
