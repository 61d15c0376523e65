#pragma once

#include <cstdint>

namespace platform {

// The kernel's id of the calling thread.
std::uint32_t CurrentThreadId() noexcept;

// Names the calling thread for debuggers and process listings, from UTF-8
// (Linux keeps at most 15 bytes of it). Failures are ignored: the name is a
// convenience, and Windows before 10 (1607) has no thread names at all.
void SetCurrentThreadName(const char* name) noexcept;

}  // namespace platform
