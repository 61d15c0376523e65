#pragma once

#include <string>

#include "component/oru/exception.h"
#include "component/oru/result_code.h"

namespace sendara::base {

// Failed calls of host services, and the root of the component's exception family.
// Every exception of the family carries a result code, a message, the source
// file and line, and named properties; all are thrown nested
// (std::throw_with_nested), so that one failure travels as a chain.
class sendara_exception : public oru::Exception {
 public:
  static constexpr oru::Result kDefaultCode = oru::rc::UnspecifiedError;

  sendara_exception(oru::Result code, std::string message, const char* file, int line)
      : oru::Exception(std::move(message), file, line) {
    SetCode(code);
  }
  sendara_exception(std::string message, const char* file, int line)
      : sendara_exception(kDefaultCode, std::move(message), file, line) {}
};

}  // namespace sendara::base
