#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "component/platform/secure_memory.h"

namespace sendara::base {

// Wipes memory before it goes back to the heap, so that a secret (a private
// key) does not linger in freed blocks after its container is gone. Copies
// of a settings record are made on every read: each must wipe its own.
template <class T>
class WipingAllocator {
 public:
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T* pointer, std::size_t count) noexcept {
    platform::WipeMemory(pointer, count * sizeof(T));
    std::allocator<T>().deallocate(pointer, count);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// Secret bytes, wiped when freed (growth included).
using SecretBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

}  // namespace sendara::base
