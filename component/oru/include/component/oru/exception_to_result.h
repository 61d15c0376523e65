#pragma once

#include <string>
#include <string_view>

#include "component/oru/i_tracer.h"
#include "component/oru/result_code.h"

namespace oru {

// The result code of the exception being handled, for host-facing boundaries:
// the code of the outermost level of its chain (nested exceptions), with the
// framework's rules for levels without a usable code. When `tracer` accepts
// level 300, `prefix`, a blank and the text of every level of the chain are
// written as one line at that level. NoCurrentException outside a handler.
Result ExceptionToResult(ITracer* tracer, std::string_view prefix) noexcept;

// The text of every level of the exception being handled, outermost first,
// as ExceptionToResult traces it; empty outside a handler. Never throws.
std::string DescribeCurrentException() noexcept;

// The text used for the construction failures of framework objects.
inline constexpr std::string_view kConstructionFailurePrefix =
    "Exception during object construction: ";

}  // namespace oru
