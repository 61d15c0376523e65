#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"

#include <cstdint>
#include <cstring>

namespace sendara::base {
namespace {

constexpr std::size_t kEscapeLength = 6;  // \uXXXX

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHighSurrogate(std::int32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::int32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::int32_t EscapedUnitAt(std::string_view text, std::size_t at) noexcept {
  if (at > text.size() || text.size() - at < kEscapeLength || text[at] != '\\' || text[at + 1] != 'u') {
    return -1;
  }
  std::int32_t unit = 0;
  for (std::size_t i = at + 2; i < at + kEscapeLength; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

std::optional<std::string> ReplaceLoneSurrogateEscapes(std::string_view text) {
  std::optional<std::string> repaired;
  const char* const begin = text.data();
  std::size_t at = 0;
  // Backslashes stand only inside strings in JSON, so walking escape by
  // escape never takes an escaped backslash for the start of an escape.
  while (const void* found = std::memchr(begin + at, '\\', text.size() - at)) {
    at = static_cast<const char*>(found) - begin;
    const std::int32_t unit = EscapedUnitAt(text, at);
    if (unit < 0) {
      at += 2;  // a short escape, or one the parser will refuse
      if (at >= text.size()) break;
      continue;
    }
    if (IsHighSurrogate(unit) && IsLowSurrogate(EscapedUnitAt(text, at + kEscapeLength))) {
      at += 2 * kEscapeLength;
      continue;
    }
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      if (!repaired) repaired.emplace(text);
      repaired->replace(at, kEscapeLength, "\\uFFFD");
    }
    at += kEscapeLength;
  }
  return repaired;
}

}  // namespace sendara::base
