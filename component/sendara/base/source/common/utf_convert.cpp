#include "component/sendara/base/detail/common/utf_convert.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sendara::base {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

constexpr std::size_t kBlock = 16;

// Events are nearly all ASCII: each conversion widens or narrows the ASCII
// runs of a text a block at a time, tested and written in the same pass,
// and walks by code point only over the units between them.

// Writes the ASCII units `text` starts with as bytes to `to`; returns how
// many.
std::size_t NarrowAsciiPrefix(std::u16string_view text, char* to) {
  const char16_t* const units = text.data();
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  for (; i + kBlock <= text.size(); i += kBlock) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + kBlock / 2));
    const __m128i outside = _mm_and_si128(_mm_or_si128(low, high), nonAscii);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(outside, _mm_setzero_si128())) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_packus_epi16(low, high));
  }
#else
  // Through a local array, which the compiler turns into a few vector
  // instructions: writing straight to `to`, which may alias anything, it
  // would keep to one unit at a time.
  for (; i + kBlock <= text.size(); i += kBlock) {
    char16_t bits = 0;
    char block[kBlock];
    for (std::size_t k = 0; k < kBlock; ++k) {
      bits |= units[i + k];
      block[k] = static_cast<char>(units[i + k]);
    }
    if (bits >= 0x80) break;
    std::memcpy(to + i, block, kBlock);
  }
#endif
  for (; i < text.size() && units[i] < 0x80; ++i) to[i] = static_cast<char>(units[i]);
  return i;
}

// Writes the ASCII bytes `text` starts with as units to `to`; returns how
// many.
std::size_t WidenAsciiPrefix(std::string_view text, char16_t* to) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + kBlock <= text.size(); i += kBlock) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    if (_mm_movemask_epi8(block) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi8(block, _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + kBlock / 2), _mm_unpackhi_epi8(block, _mm_setzero_si128()));
  }
#else
  for (; i + kBlock <= text.size(); i += kBlock) {
    unsigned char bits = 0;
    char16_t block[kBlock];
    for (std::size_t k = 0; k < kBlock; ++k) {
      bits |= static_cast<unsigned char>(text[i + k]);
      block[k] = static_cast<char16_t>(static_cast<unsigned char>(text[i + k]));
    }
    if (bits >= 0x80) break;
    std::memcpy(to + i, block, sizeof block);
  }
#endif
  for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i) to[i] = static_cast<char16_t>(text[i]);
  return i;
}

// Writes `text` as UTF-8 to `next`, which has room for three bytes a unit
// (no unit makes more; a surrogate pair, two units, makes four); returns
// the end of what it wrote.
char* WriteUtf8(std::u16string_view text, char* next) {
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t run = NarrowAsciiPrefix(text.substr(i), next)) {
      next += run;
      i += run;
      continue;
    }
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      next = EncodeUtf8(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                            (static_cast<char32_t>(text[i + 1]) - 0xDC00),
                        next);
      i += 2;
    } else {
      next = EncodeUtf8(IsHighSurrogate(unit) || IsLowSurrogate(unit) ? kReplacement : unit, next);
      ++i;
    }
  }
  return next;
}

#if defined(__SSE2__)
// The mask of the zero units in the aligned block of 16 bytes at `block`,
// two bits a unit. The block may hold units after a string's terminator
// (see Utf16Length), so the sanitizers must not look here either: a
// function of its own, since the attribute of its caller does not reach
// into a lambda, which an unoptimised build keeps as a function apart.
__attribute__((no_sanitize("address", "thread"))) unsigned ZeroUnits(std::uintptr_t block) noexcept {
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), _mm_setzero_si128())));
}
#endif

}  // namespace

char* EncodeUtf8(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  ToUtf8(text, out);
  // Nothing spare: a caller may keep the string for long. Only a text that
  // is not all ASCII was given room to spare.
  if (out.capacity() > out.size()) out.shrink_to_fit();
  return out;
}

void ToUtf8(std::u16string_view text, std::string& out) {
  // Nearly every event is ASCII, whose size is known without a walk; the
  // others are written in one walk from their first other unit on, into
  // room for the most they can take.
  out.resize(text.size());
  const std::size_t ascii = NarrowAsciiPrefix(text, out.data());
  if (ascii == text.size()) return;
  out.resize(ascii + 3 * (text.size() - ascii));
  const char* const end = WriteUtf8(text.substr(ascii), out.data() + ascii);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

// Reads whole aligned blocks of 16 bytes, which may hold units before the
// text and after its terminator: an aligned block never crosses into
// another page, so this reads nothing that is not mapped. The address
// and thread sanitizers would see a read past the string; they are told
// not to look here.
__attribute__((no_sanitize("address", "thread"))) std::size_t Utf16Length(const char16_t* text) noexcept {
#if defined(__SSE2__)
  const auto address = reinterpret_cast<std::uintptr_t>(text);
  if (address % alignof(char16_t) == 0) {
    constexpr std::uintptr_t kBlockBytes = 16;
    const std::uintptr_t first = address & ~(kBlockBytes - 1);
    std::uintptr_t block = first;
    // The bits of the units before the text cleared.
    unsigned mask = ZeroUnits(block) & (~0u << (address - first));
    while (mask == 0) {
      block += kBlockBytes;
      mask = ZeroUnits(block);
    }
    return (block + static_cast<unsigned>(__builtin_ctz(mask)) - address) / sizeof(char16_t);
  }
#endif
  return std::char_traits<char16_t>::length(text);
}

std::u16string ToUtf16(std::string_view text) {
  // No UTF-8 sequence makes more units than it has bytes.
  std::u16string out(text.size(), u'\0');
  char16_t* to = out.data();
  std::size_t i = 0;
  while (i < text.size()) {
    // Events are nearly all ASCII: a run is widened whole.
    if (const std::size_t run = WidenAsciiPrefix(text.substr(i), to)) {
      to += run;
      i += run;
      continue;
    }
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
      } else {
        cp = (cp << 6) | (next & 0x3F);
      }
    }
    if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      *to++ = static_cast<char16_t>(kReplacement);
      ++i;
    } else if (cp < 0x10000) {
      *to++ = static_cast<char16_t>(cp);
      i += length;
    } else {
      *to++ = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      *to++ = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      i += length;
    }
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  return out;
}

}  // namespace sendara::base
