#pragma once

#include <system_error>

#include "component/oru/result_code.h"

namespace platform {

// Maps an errno value onto a result code: the platform facility where one
// fits, a framework code for the generic conditions (memory, access,
// arguments, time-outs), "Unspecified platform error" otherwise.
oru::Result ResultFromErrno(int error) noexcept;

// The same for a std::system_error raised by the standard library.
oru::Result ResultFromSystemError(const std::system_error& error) noexcept;

}  // namespace platform
