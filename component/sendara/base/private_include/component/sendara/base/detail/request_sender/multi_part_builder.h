#pragma once

#include <span>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/request_sender/multi_part.h"

namespace sendara::base {

// Writes multipart/form-data bodies.
class MultiPartBuilder {
 public:
  // Every part opened by "--" + boundary, its headers and its content, and
  // the body closed by "--" + boundary + "--".
  static std::string BuildBody(std::span<const MultiPart> parts, std::string_view boundary);
  // A fresh random GUID, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in upper-case
  // hex: a boundary no part content can be expected to contain. Raises
  // tools_exception when the system has no randomness to give.
  static std::string NewBoundary();
  // The request's "Content-type" for a body with `boundary`.
  static std::string ContentTypeFor(std::string_view boundary);
};

}  // namespace sendara::base
