#pragma once

#include <algorithm>
#include <cstdint>

namespace sendara::base {

// floor(a * b / c), or `limit` when that is larger; c > 0. Exact for every
// input: the product is formed in two 64-bit halves and divided bit by bit,
// since not every target has a 128-bit integer type.
constexpr std::uint64_t MulDivClamped(std::uint64_t a, std::uint64_t b, std::uint64_t c,
                                      std::uint64_t limit) noexcept {
  constexpr std::uint64_t kLowHalf = 0xFFFFFFFFu;
  const std::uint64_t lowLow = (a & kLowHalf) * (b & kLowHalf);
  const std::uint64_t lowHigh = (a & kLowHalf) * (b >> 32);
  const std::uint64_t highLow = (a >> 32) * (b & kLowHalf);
  const std::uint64_t middle = (lowLow >> 32) + (lowHigh & kLowHalf) + (highLow & kLowHalf);
  const std::uint64_t high = (a >> 32) * (b >> 32) + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32);
  const std::uint64_t low = (middle << 32) | (lowLow & kLowHalf);
  if (high == 0) return std::min(low / c, limit);
  if (high >= c) return limit;  // the quotient needs more than 64 bits
  // Long division; the remainder stays below c, and a bit shifted out of it
  // means it was at least 2^64 > c before the subtraction.
  std::uint64_t remainder = high;
  std::uint64_t quotient = 0;
  for (int bit = 63; bit >= 0; --bit) {
    const bool carried = (remainder >> 63) != 0;
    remainder = (remainder << 1) | ((low >> bit) & 1u);
    quotient <<= 1;
    if (carried || remainder >= c) {
      remainder -= c;
      quotient |= 1u;
    }
  }
  return std::min(quotient, limit);
}

}  // namespace sendara::base
