#pragma once

#include <string_view>

#include <simdjson.h>

namespace sendara::base {

// simdjson reads a number with an exponent of ten digits or more
// (0e3046744073709551616, 1e-2147483648) as zero, where Boost.JSON refuses it
// as an exponent overflow; so it does a number of a billion digits with a
// shorter exponent. Whether `document`, which simdjson read from `text`, may
// hold such a number: never false when it does, and cheap when the text holds
// nothing like one, which is nearly always.
bool MayHoldOverlongExponent(std::string_view text, simdjson::dom::element document) noexcept;

}  // namespace sendara::base
