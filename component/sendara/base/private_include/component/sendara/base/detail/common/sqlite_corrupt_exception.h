#pragma once

#include <string>

#include "component/sendara/base/detail/common/sqlite_exception.h"

namespace sendara::base {

// A corrupt database file.
class sqlite_corrupt_exception : public sqlite_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::BasesCorrupted;

  sqlite_corrupt_exception(oru::Result code, std::string message, const char* file, int line)
      : sqlite_exception(code, std::move(message), file, line) {}
  sqlite_corrupt_exception(std::string message, const char* file, int line)
      : sqlite_corrupt_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
