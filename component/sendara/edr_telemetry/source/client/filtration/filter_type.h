#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <boost/json/value.hpp>

namespace sendara::edr_telemetry::filtration {

// A rule constant: string, negative whole number, non-negative whole number,
// bool, in this index order. A non-negative whole number is always held as
// uint64 and a negative one as int64, so the same number from a rule and from
// an event lands in the same alternative.
using FilterType = std::variant<std::string, std::int64_t, std::uint64_t, bool>;

// An event's field value, in the same index order. A string is a view into
// the event document: evaluation never copies event text.
using FilterTypeView = std::variant<std::string_view, std::int64_t, std::uint64_t, bool>;

inline constexpr std::size_t kStringIndex = 0;
inline constexpr std::size_t kSignedIndex = 1;
inline constexpr std::size_t kUnsignedIndex = 2;
inline constexpr std::size_t kBoolIndex = 3;

// Rule side: a string, an integer or a bool; anything else (null, any
// floating-point number even without a fraction, an array, an object) raises
// sendara_exception "Not matched" with "unexpected json content".
FilterType ConvertJsonconsToFilterType(const boost::json::value& value);

// Event side: as the rule side, except that a floating-point number without a
// fraction inside the 64-bit ranges counts as a whole number (an event's 3.0
// equals a rule's 3), and NaN, Boost.JSON's reading of 0e400, as zero. The
// view refers into `value`.
FilterTypeView ConvertJsonToFilterType(const boost::json::value& value);
// The event side's reading of a floating-point number, as above: a whole
// number inside the 64-bit ranges, else "unexpected json content".
FilterTypeView EventNumberToFilterType(double number);

// Helpers shared by the comparison leaves.
bool IsWholeNumber(const FilterTypeView& value) noexcept;
bool IsWholeNumber(const FilterType& value) noexcept;
// The 64-bit pattern of a whole number (a signed -1 is all ones).
std::uint64_t BitsOf(const FilterTypeView& value) noexcept;
std::uint64_t BitsOf(const FilterType& value) noexcept;
// Mathematical order of two whole numbers: a negative value is below every
// unsigned one. Nothing when either is not a whole number.
std::optional<std::strong_ordering> CompareWholeNumbers(const FilterTypeView& a,
                                                        const FilterType& b) noexcept;
// Same index and equal values (strings byte for byte).
bool SameKindAndValue(const FilterTypeView& a, const FilterType& b) noexcept;
// Both strings: the views of the two texts.
std::optional<std::pair<std::string_view, std::string_view>> BothStrings(const FilterTypeView& a,
                                                                         const FilterType& b) noexcept;

}  // namespace sendara::edr_telemetry::filtration
