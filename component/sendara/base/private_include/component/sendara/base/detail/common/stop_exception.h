#pragma once

#include <string>

#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::base {

// The work was stopped by request; never reported as an error.
class stop_exception : public sendara_exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::OperationCancelled;

  stop_exception(oru::Result code, std::string message, const char* file, int line)
      : sendara_exception(code, std::move(message), file, line) {}
  stop_exception(std::string message, const char* file, int line)
      : stop_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
