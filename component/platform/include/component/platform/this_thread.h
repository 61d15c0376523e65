#pragma once

#include <cstdint>

namespace platform {

// The kernel's id of the calling thread.
std::uint32_t CurrentThreadId() noexcept;

// Names the calling thread for debuggers and process listings (at most 15
// characters are kept). Failures are ignored: the name is a convenience.
void SetCurrentThreadName(const char* name) noexcept;

}  // namespace platform
