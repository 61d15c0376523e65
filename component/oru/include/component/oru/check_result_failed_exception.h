#pragma once

#include <string>

#include "component/oru/result_code_exception.h"

namespace oru {

// A failed check: the failing call's result code, or InvalidArgument for a
// violated precondition.
class CheckResultFailedException : public ResultCodeException {
 public:
  using ResultCodeException::ResultCodeException;
};

}  // namespace oru
