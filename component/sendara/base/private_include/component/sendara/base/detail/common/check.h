#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "component/oru/exception.h"
#include "component/oru/result_code.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/function_name.h"

namespace sendara::base {

// Throws `exception` nested: the exception being handled at the throw point,
// if any, travels inside it.
template <class E>
[[noreturn]] void ThrowNested(E&& exception) {
  std::throw_with_nested(std::forward<E>(exception));
}

// Raises the check failure of `function`: an `E` with `code`, the message
// "[" + function + "] failed expression" and `message` under
// "additional_info" (left out when empty).
template <class E>
[[noreturn]] void ThrowCheckFailed(oru::Result code, std::string_view function, const char* file,
                                   int line, std::string_view message) {
  std::string text;
  text.reserve(function.size() + 20);
  text += "[";
  text += function;
  text += "] failed expression";
  E exception(code, std::move(text), file, line);
  if (!message.empty()) {
    exception.SetProperty(oru::property::kAdditionalInfo, std::string(message));
  }
  ThrowNested(std::move(exception));
}

}  // namespace sendara::base

// Raises `exception_class` with `code` when `condition` is false.
#define SENDARA_CHECK(condition, exception_class, code, message)                               \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      ::sendara::base::ThrowCheckFailed<exception_class>((code), SENDARA_FUNCTION_NAME, __FILE__, \
                                                         __LINE__, (message));                  \
    }                                                                                           \
  } while (0)

// Raises `exception_class` with the result of `expression` when it failed.
#define SENDARA_CHECK_RESULT(expression, exception_class, message)                                \
  do {                                                                                            \
    const ::oru::Result sendaraCheckResult_ = (expression);                                       \
    if (::oru::Failed(sendaraCheckResult_)) {                                                     \
      ::sendara::base::ThrowCheckFailed<exception_class>(sendaraCheckResult_, SENDARA_FUNCTION_NAME, \
                                                         __FILE__, __LINE__, (message));          \
    }                                                                                             \
  } while (0)

// A violated precondition: contract_exception with InvalidArgument.
#define SENDARA_CONTRACT(condition, message) \
  SENDARA_CHECK(condition, ::sendara::base::contract_exception, ::oru::rc::InvalidArgument, message)

// Raises `exception_class` (built from code, message, file and line) nested.
#define SENDARA_THROW(exception_class, code, message) \
  ::sendara::base::ThrowNested(exception_class((code), (message), __FILE__, __LINE__))
