#pragma once

#include <string>

#include "component/oru/exception.h"

namespace oru {

// A framework exception that always carries a result code.
class ResultCodeException : public Exception {
 public:
  ResultCodeException(Result code, std::string message, const char* file, int line)
      : Exception(std::move(message), file, line) {
    SetCode(code);
  }
};

}  // namespace oru
