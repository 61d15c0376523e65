#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sendara::base {

// UTF-16 to UTF-8. A surrogate pair becomes one code point; a surrogate
// unit that is not part of a pair (anywhere in the text) becomes U+FFFD, so
// the output is always valid UTF-8.
std::string ToUtf8(std::u16string_view text);
// The same into `out`, replacing what it holds but keeping its capacity: for
// a buffer that takes one text after another without an allocation each.
void ToUtf8(std::u16string_view text, std::string& out);

// Writes one code point (not a surrogate) as UTF-8 to `out`, which has room
// for four bytes; returns the end of what it wrote.
char* EncodeUtf8(char32_t codePoint, char* out) noexcept;

// UTF-8 to UTF-16. A byte sequence that is not valid UTF-8 (a stray
// continuation byte, a truncated or overlong sequence, an encoded surrogate,
// a value past U+10FFFF) becomes one U+FFFD per offending byte.
std::u16string ToUtf16(std::string_view text);

// The number of units before the terminating zero, as
// std::char_traits<char16_t>::length counts them, several units at a time:
// events cross the module's interface as zero-terminated text.
std::size_t Utf16Length(const char16_t* text) noexcept;

}  // namespace sendara::base
