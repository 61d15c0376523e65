#pragma once

#include <string_view>

namespace sendara::edr_telemetry::filtration {

// Byte-wise, case-sensitive glob match of `text` against `pattern`: "*" any
// run of bytes, "?" exactly one byte, "\*", "\?" and "\\" the byte itself; a
// "\" before any other byte, or at the end, is an ordinary byte. Retries
// only the most recent star, so the cost stays bounded by the product of the
// two lengths.
bool MatchLike(std::string_view text, std::string_view pattern);

}  // namespace sendara::edr_telemetry::filtration
