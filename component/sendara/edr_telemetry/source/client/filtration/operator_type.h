#pragma once

#include <cstdint>
#include <string_view>

namespace sendara::edr_telemetry::filtration {

// The operators of filter expressions, in the order their names are tried.
enum class OperatorType : std::uint8_t {
  kAnd,
  kEqual,
  kGreater,
  kGreaterEqual,
  kIn,
  kInLike,
  kLike,
  kLess,
  kLessEqual,
  kNotEqual,
  kNot,
  kNotIn,
  kNotInLike,
  kNotLike,
  kOr,
  kExists,
  kNotExists,
  kBitAnd,
  kIEqual,
  kContains,
  kUnknown,
};

// Symbolic names ("==", ">", ...) match byte for byte; word names ("and",
// "not in like", ...) ignoring ASCII letter case, with equal lengths (two
// blanks where the name has one do not match).
OperatorType ParseOperator(std::string_view name) noexcept;

}  // namespace sendara::edr_telemetry::filtration
