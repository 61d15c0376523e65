#include "component/sendara/base/detail/serializers/overlong_exponents.h"

#include <cstddef>

namespace sendara::base {
namespace {

constexpr std::size_t kExponentDigits = 10;

// Beyond this a text may hold a number whose digits push Boost.JSON's
// exponent over with a short exponent of its own.
constexpr std::size_t kMaximumBytes = std::size_t{1} << 30;

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Whether `text` holds ten digits after an 'e' or 'E' (and a sign), strings
// too. A run of ten digits holds one of every tenth byte: only those are
// looked at first.
bool MayHoldLongExponent(std::string_view text) noexcept {
  for (std::size_t i = kExponentDigits - 1; i < text.size(); i += kExponentDigits) {
    if (!IsDigit(text[i])) continue;
    std::size_t begin = i;
    while (begin > 0 && IsDigit(text[begin - 1])) --begin;
    std::size_t end = i + 1;
    while (end < text.size() && IsDigit(text[end])) ++end;
    if (end - begin < kExponentDigits) continue;
    if (begin > 0 && (text[begin - 1] == '+' || text[begin - 1] == '-')) --begin;
    if (begin > 0 && (text[begin - 1] | 0x20) == 'e') return true;
  }
  return false;
}

// Such a number is read as zero; a text that only looks like it (a hash in a
// string) seldom comes with a zero too.
bool HoldsZeroDouble(simdjson::dom::element value) noexcept {
  using simdjson::dom::element_type;
  switch (value.type()) {
    case element_type::OBJECT: {
      const simdjson::dom::object object = value.get_object().value_unsafe();
      for (const simdjson::dom::key_value_pair member : object) {
        if (HoldsZeroDouble(member.value)) return true;
      }
      return false;
    }
    case element_type::ARRAY: {
      const simdjson::dom::array array = value.get_array().value_unsafe();
      for (const simdjson::dom::element item : array) {
        if (HoldsZeroDouble(item)) return true;
      }
      return false;
    }
    case element_type::DOUBLE:
      return value.get_double().value_unsafe() == 0;
    default:
      return false;
  }
}

}  // namespace

bool MayHoldOverlongExponent(std::string_view text, simdjson::dom::element document) noexcept {
  // A zero double is rare in events, and the document's walk is cheaper
  // than the text's.
  return text.size() > kMaximumBytes || (HoldsZeroDouble(document) && MayHoldLongExponent(text));
}

}  // namespace sendara::base
