#pragma once

#include <string>

#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

// Missing items.
class not_found_exception : public internal_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::NotFound;

  not_found_exception(oru::Result code, std::string message, const char* file, int line)
      : internal_exception(code, std::move(message), file, line) {}
  not_found_exception(std::string message, const char* file, int line)
      : not_found_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
