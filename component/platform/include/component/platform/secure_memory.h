#pragma once

#include <cstddef>

namespace platform {

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not
// leave out although the memory is never read again: for secrets (passwords,
// keys, tokens) about to be freed.
void WipeMemory(void* data, std::size_t size) noexcept;

}  // namespace platform
