#include "component/sendara/edr_telemetry/source/client/filtration/filter_type.h"

#include <cmath>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::edr_telemetry::filtration {
namespace {

[[noreturn]] void ThrowUnexpectedContent(std::string_view function) {
  base::ThrowCheckFailed<base::sendara_exception>(oru::rc::NotMatched, function, __FILE__, __LINE__,
                                                  "unexpected json content");
}

// 2^64 and -2^63 as doubles: the exclusive upper and inclusive lower bounds
// of the whole numbers a double may stand for here.
constexpr double kTwoPow64 = 18446744073709551616.0;
constexpr double kMinusTwoPow63 = -9223372036854775808.0;

template <class Variant>
bool IsWhole(const Variant& value) noexcept {
  return value.index() == kSignedIndex || value.index() == kUnsignedIndex;
}

template <class Variant>
std::uint64_t Bits(const Variant& value) noexcept {
  if (const auto* s = std::get_if<std::int64_t>(&value)) return static_cast<std::uint64_t>(*s);
  if (const auto* u = std::get_if<std::uint64_t>(&value)) return *u;
  return 0;
}

}  // namespace

namespace {

// The kinds both sides read alike: strings, integers (non-negative ones as
// uint64) and bools. Nothing for any other kind.
template <class Out, class Text>
std::optional<Out> ConvertCommon(const boost::json::value& value) {
  switch (value.kind()) {
    case boost::json::kind::string:
      return Out(Text(value.get_string()));
    case boost::json::kind::uint64:
      return Out(value.get_uint64());
    case boost::json::kind::int64: {
      const std::int64_t number = value.get_int64();
      if (number >= 0) return Out(static_cast<std::uint64_t>(number));
      return Out(number);
    }
    case boost::json::kind::bool_:
      return Out(value.get_bool());
    default:
      return std::nullopt;
  }
}

}  // namespace

FilterType ConvertJsonconsToFilterType(const boost::json::value& value) {
  if (auto converted = ConvertCommon<FilterType, std::string>(value)) return std::move(*converted);
  ThrowUnexpectedContent(SENDARA_FUNCTION_NAME);
}

FilterTypeView ConvertJsonToFilterType(const boost::json::value& value) {
  if (auto converted = ConvertCommon<FilterTypeView, std::string_view>(value)) return *converted;
  if (value.is_double()) {
    // No JSON number is NaN: Boost.JSON 1.81 reads a zero with an exponent
    // beyond 308 (0e400) as 0 times infinity. simdjson reads it as the zero
    // it is, and so does the comparison whichever parser read the event.
    const double number = value.get_double();
    return EventNumberToFilterType(std::isnan(number) ? 0.0 : number);
  }
  ThrowUnexpectedContent(SENDARA_FUNCTION_NAME);
}

FilterTypeView EventNumberToFilterType(double number) {
  if (std::isfinite(number) && std::trunc(number) == number) {
    if (number >= 0 && number < kTwoPow64) return static_cast<std::uint64_t>(number);
    if (number >= kMinusTwoPow63 && number < 0) return static_cast<std::int64_t>(number);
  }
  ThrowUnexpectedContent(SENDARA_FUNCTION_NAME);
}

bool IsWholeNumber(const FilterTypeView& value) noexcept { return IsWhole(value); }
bool IsWholeNumber(const FilterType& value) noexcept { return IsWhole(value); }
std::uint64_t BitsOf(const FilterTypeView& value) noexcept { return Bits(value); }
std::uint64_t BitsOf(const FilterType& value) noexcept { return Bits(value); }

std::optional<std::strong_ordering> CompareWholeNumbers(const FilterTypeView& a,
                                                        const FilterType& b) noexcept {
  if (!IsWhole(a) || !IsWhole(b)) return std::nullopt;
  const bool aNegative = a.index() == kSignedIndex;
  const bool bNegative = b.index() == kSignedIndex;
  // A signed value here is always negative, an unsigned one never is.
  if (aNegative != bNegative) return aNegative ? std::strong_ordering::less : std::strong_ordering::greater;
  if (aNegative) return std::get<std::int64_t>(a) <=> std::get<std::int64_t>(b);
  return std::get<std::uint64_t>(a) <=> std::get<std::uint64_t>(b);
}

bool SameKindAndValue(const FilterTypeView& a, const FilterType& b) noexcept {
  if (a.index() != b.index()) return false;
  switch (a.index()) {
    case kStringIndex:
      return std::get<std::string_view>(a) == std::get<std::string>(b);
    case kSignedIndex:
      return std::get<std::int64_t>(a) == std::get<std::int64_t>(b);
    case kUnsignedIndex:
      return std::get<std::uint64_t>(a) == std::get<std::uint64_t>(b);
    default:
      return std::get<bool>(a) == std::get<bool>(b);
  }
}

std::optional<std::pair<std::string_view, std::string_view>> BothStrings(const FilterTypeView& a,
                                                                         const FilterType& b) noexcept {
  const auto* text = std::get_if<std::string_view>(&a);
  const auto* constant = std::get_if<std::string>(&b);
  if (!text || !constant) return std::nullopt;
  return std::pair<std::string_view, std::string_view>(*text, *constant);
}

}  // namespace sendara::edr_telemetry::filtration
