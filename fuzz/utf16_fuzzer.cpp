// The UTF-8 <-> UTF-16 conversions, both ways, on the input read as UTF-8
// bytes and as UTF-16LE units. Checked against a plain reading of both
// encodings: valid input goes round unchanged, invalid input becomes U+FFFD
// and nothing else changes, and the UTF-8 out is always valid. A failed check
// aborts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/common/utf_convert.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// The code point of the well-formed UTF-8 sequence at `text[i]` and its
// length, or nothing: the table of well-formed sequences of Unicode 15,
// chapter 3, written out rather than shared with the code under test.
std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[i + k]); };
  const auto in = [&](std::size_t k, std::uint8_t low, std::uint8_t high) {
    return i + k < text.size() && byte(k) >= low && byte(k) <= high;
  };
  const std::uint8_t b0 = byte(0);
  if (b0 < 0x80) return std::pair<char32_t, std::size_t>(b0, 1);
  if (b0 >= 0xC2 && b0 <= 0xDF && in(1, 0x80, 0xBF)) {
    return std::pair<char32_t, std::size_t>(((b0 & 0x1F) << 6) | (byte(1) & 0x3F), 2);
  }
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (b0 == 0xE0) low = 0xA0;
  if (b0 == 0xED) high = 0x9F;
  if (b0 >= 0xE0 && b0 <= 0xEF && in(1, low, high) && in(2, 0x80, 0xBF)) {
    return std::pair<char32_t, std::size_t>(((b0 & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F), 3);
  }
  low = b0 == 0xF0 ? 0x90 : 0x80;
  high = b0 == 0xF4 ? 0x8F : 0xBF;
  if (b0 >= 0xF0 && b0 <= 0xF4 && in(1, low, high) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF)) {
    return std::pair<char32_t, std::size_t>(
        ((b0 & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F), 4);
  }
  return std::nullopt;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto decoded = DecodeUtf8(text, i);
    if (!decoded) return false;
    i += decoded->second;
  }
  return true;
}

void AppendUnits(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  }
}

// What ToUtf16 must make of `text`: one U+FFFD for each byte that does not
// start a well-formed sequence.
std::u16string ExpectedUtf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto decoded = DecodeUtf8(text, i);
    AppendUnits(out, decoded ? decoded->first : kReplacement);
    i += decoded ? decoded->second : 1;
  }
  return out;
}

// `text` with every unpaired surrogate unit replaced by U+FFFD: what ToUtf8
// must keep of it.
std::u16string Repaired(std::u16string_view text) {
  std::u16string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const char16_t unit = out[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      ++i;
    } else if (IsSurrogate(unit)) {
      out[i] = static_cast<char16_t>(kReplacement);
    }
  }
  return out;
}

void Utf8Way(std::string_view text) {
  const std::u16string utf16 = sendara::base::ToUtf16(text);
  Check(utf16 == ExpectedUtf16(text));
  const std::string back = sendara::base::ToUtf8(utf16);
  Check(IsValidUtf8(back));
  if (IsValidUtf8(text)) Check(back == text);
}

void Utf16Way(std::u16string_view text) {
  const std::string utf8 = sendara::base::ToUtf8(text);
  Check(IsValidUtf8(utf8));
  // The overload that fills a buffer must ignore what the buffer held.
  std::string reused(text.size() % 40, 'x');
  sendara::base::ToUtf8(text, reused);
  Check(reused == utf8);
  Check(sendara::base::ToUtf16(utf8) == Repaired(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Utf8Way(std::string_view(reinterpret_cast<const char*>(data), size));

  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  Utf16Way(units);
  return 0;
}
