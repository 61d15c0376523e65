#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sendara::base {

// Boost.JSON refuses a text holding an escaped lone surrogate, yet file names
// on the hosts can hold unpaired UTF-16 surrogates. Returns a copy of `text`
// with each such escape (a high one not directly followed by a low one, or a
// low one not directly preceded by a high one) replaced by \uFFFD, as
// ToUtf8 does for raw lone surrogates; nullopt, without copying, when there
// is none. A text that is not JSON stays one.
std::optional<std::string> ReplaceLoneSurrogateEscapes(std::string_view text);

// The UTF-16 unit that the \uXXXX escape at `at` of `text` stands for, or -1
// when no such escape starts there.
std::int32_t EscapedUnitAt(std::string_view text, std::size_t at) noexcept;

}  // namespace sendara::base
