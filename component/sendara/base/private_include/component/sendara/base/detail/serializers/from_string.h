#pragma once

#include <cstddef>
#include <string_view>

#include <boost/json/value.hpp>

namespace sendara::base {

// Parses a stored or received JSON text. Raises invalid_json_exception
// "string conversion to json error" (the parser's message under
// "description_error") when it does not parse, and "json not object or
// nullptr" when the document is neither an object nor null.
boost::json::value from_string(std::string_view text);

// How deeply a document read by from_string may nest.
inline constexpr std::size_t kMaximumDepth = 512;

}  // namespace sendara::base
