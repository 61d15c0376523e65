#pragma once

#include <cstdint>
#include <ostream>

namespace sendara::base {

// Streams an address as hexadecimal digits (the text before it writes the
// "0x"), leaving the stream's own format flags as they were.
class HexAddress {
 public:
  explicit HexAddress(const void* address) noexcept : m_address(address) {}

  friend std::ostream& operator<<(std::ostream& out, HexAddress a) {
    const auto flags = out.flags();
    out << std::hex << reinterpret_cast<std::uintptr_t>(a.m_address);
    out.flags(flags);
    return out;
  }

 private:
  const void* m_address;
};

}  // namespace sendara::base
