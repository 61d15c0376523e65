#pragma once

#include <cstdint>
#include <system_error>

#include "component/oru/result_code.h"

namespace platform {

// Maps an errno value onto a result code: the platform facility where one
// fits, a framework code for the generic conditions (memory, access,
// arguments, time-outs), "Unspecified platform error" otherwise.
oru::Result ResultFromErrno(int error) noexcept;

// The same for a std::error_code of the standard library: its generic
// category holds errno values; its system category holds errno values too on
// POSIX systems, and Windows error codes on Windows (as the MinGW and
// Microsoft libraries fill it, and the platform layer too). Codes of other
// categories are "Unspecified platform error".
oru::Result ResultFromErrorCode(const std::error_code& error) noexcept;

// The same for a std::system_error raised by the standard library.
oru::Result ResultFromSystemError(const std::system_error& error) noexcept;

#if defined(_WIN32)
// Maps a Windows error code (GetLastError, and the WSA codes of sockets)
// onto a result code, like ResultFromErrno.
oru::Result ResultFromWindowsError(std::uint32_t error) noexcept;
#endif

}  // namespace platform
