#pragma once

#include <string>

#include "component/sendara/base/detail/common/tools_exception.h"

namespace sendara::base {

// Database failures.
class sqlite_exception : public tools_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::UnspecifiedError;

  sqlite_exception(oru::Result code, std::string message, const char* file, int line)
      : tools_exception(code, std::move(message), file, line) {}
  sqlite_exception(std::string message, const char* file, int line)
      : sqlite_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
