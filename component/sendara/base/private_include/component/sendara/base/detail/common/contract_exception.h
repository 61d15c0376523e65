#pragma once

#include <string>

#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base {

// Violated preconditions: settings that fail validation, arguments out of their range.
class contract_exception : public internal_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::InvalidArgument;

  contract_exception(oru::Result code, std::string message, const char* file, int line)
      : internal_exception(code, std::move(message), file, line) {}
  contract_exception(std::string message, const char* file, int line)
      : contract_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
