#pragma once

#include <string_view>

#include "component/oru/result_code.h"

namespace oru {

// The text of a result code; "Unknown result code" for any code not listed,
// including every failure code outside the framework and platform facilities.
std::string_view GetResultText(Result result) noexcept;

}  // namespace oru
