#include "component/sendara/edr_telemetry/source/client/telemetry/event_field_stripper.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/serializers/from_string.h"

namespace sendara::edr_telemetry::telemetry {
namespace {

using base::kMaximumDepth;

// Boost.JSON refuses an exponent past INT_MAX once the digits of the number
// are counted in: with fewer exponent digits than this, and a text shorter
// than kMaximumJudgedSize, no number comes near it.
constexpr std::size_t kExponentDigitsJudged = 9;
constexpr std::size_t kMaximumJudgedSize = std::size_t{1} << 30;

// The longest run of white space read byte by byte (see SkipWhiteSpace).
constexpr std::ptrdiff_t kShortRun = 16;

// Room in the output past the most an event can leave there (see Write).
constexpr std::size_t kWriteSlack = 16;

constexpr std::array<bool, 256> kWhiteSpace = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : {' ', '\t', '\n', '\r'}) table[c] = true;
  return table;
}();

// What ends a run of plain text inside a string.
constexpr std::array<bool, 256> kStringStop = [] {
  std::array<bool, 256> table{};
  for (std::size_t c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

constexpr std::array<std::int8_t, 256> kHexValue = [] {
  std::array<std::int8_t, 256> table{};
  for (auto& value : table) value = -1;
  for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<std::int8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table['a' + c] = static_cast<std::int8_t>(10 + c);
    table['A' + c] = static_cast<std::int8_t>(10 + c);
  }
  return table;
}();

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }
bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The four hex digits of a \u escape at `at`, or -1.
std::int32_t HexUnit(const char* at) {
  std::int32_t unit = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = kHexValue[Byte(at[i])];
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The name a member's text stands for; the escapes in it are known to be
// well formed. A lone surrogate reads as U+FFFD, as from_string reads it.
std::string_view Unescape(std::string_view text, std::string& name) {
  name.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
      continue;
    }
    const char kind = text[++i];
    switch (kind) {
      case 'b': name += '\b'; break;
      case 'f': name += '\f'; break;
      case 'n': name += '\n'; break;
      case 'r': name += '\r'; break;
      case 't': name += '\t'; break;
      case 'u': {
        std::uint32_t code = static_cast<std::uint32_t>(HexUnit(text.data() + i + 1));
        i += 4;
        if (code >= 0xD800 && code <= 0xDBFF && text.size() - i > 6 && text[i + 1] == '\\' && text[i + 2] == 'u') {
          const std::int32_t low = HexUnit(text.data() + i + 3);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + static_cast<std::uint32_t>(low - 0xDC00);
            i += 6;
          }
        }
        if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
        AppendUtf8(name, code);
        break;
      }
      default: name += kind;  // '"', '\\' and '/' stand for themselves
    }
  }
  return name;
}

// The scanning below keeps its read and write positions in locals of one
// function, the helpers inlined into it: kept in members, they would be
// reloaded after every byte written, since the output may alias anything.

// Past the white space at `p`. The runs between tokens are mostly short (a
// space, or a line feed and an indent): taken byte by byte, on branches the
// processor predicts, they cost less than a 16-byte test whose result the
// next token would wait for. Longer runs go 16 bytes at a time.
[[gnu::always_inline]] inline const char* SkipWhiteSpace(const char* p, const char* end) {
  const char* const shortEnd = end - p > kShortRun ? p + kShortRun : end;
  while (p != shortEnd && kWhiteSpace[Byte(*p)]) ++p;
  if (p == end || !kWhiteSpace[Byte(*p)]) return p;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i carriageReturn = _mm_set1_epi8('\r');
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i white =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, space), _mm_cmpeq_epi8(bytes, tab)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeed), _mm_cmpeq_epi8(bytes, carriageReturn)));
    const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(white)) & 0xFFFF;
    if (other != 0) return p + __builtin_ctz(other);
    p += 16;
  }
#endif
  while (p != end && kWhiteSpace[Byte(*p)]) ++p;
  return p;
}

// Writes [begin, stop) at `w`; returns the end of what it wrote. The output
// has kWriteSlack bytes of room past the most it holds, so that the short
// runs, nearly all of them, go as one 16-byte move rather than a call.
[[gnu::always_inline]] inline char* Write(char* w, const char* begin, const char* stop, const char* end) {
  const auto size = static_cast<std::size_t>(stop - begin);
#if defined(__SSE2__)
  if (size <= 16 && end - begin >= 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin)));
    return w + size;
  }
#else
  (void)end;
#endif
  std::memcpy(w, begin, size);
  return w + size;
}

// Past the escape at `p` (a backslash), or null when Boost.JSON would not
// read it.
[[gnu::always_inline]] inline const char* SkipEscape(const char* p, const char* end) {
  if (end - p < 2) return nullptr;  // a cut escape
  switch (p[1]) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
      return p + 2;
    case 'u':
      if (end - p < 6 || HexUnit(p + 2) < 0) return nullptr;
      return p + 6;
    default:
      return nullptr;
  }
}

// Past the string whose opening quote is at `p`, or null when Boost.JSON
// would not read it; its escapes are checked, and noted in `escaped`.
[[gnu::always_inline]] inline const char* ScanString(const char* p, const char* end, bool& escaped) {
  ++p;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Where the next token begins waits on the quote alone: the escapes and
    // control characters are looked for beside it, off that path.
    auto quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quote)));
    auto others = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
        _mm_cmpeq_epi8(bytes, backslash), _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl))));
    std::ptrdiff_t advance = 16;
    // The escapes of these 16 bytes (paths are full of them) are stepped
    // over on their masks, rather than by reading the bytes after each again.
    for (;;) {
      if (quotes != 0) {
        const int at = __builtin_ctz(quotes);
        if ((others & ((1u << at) - 1)) == 0) return p + at + 1;
      }
      if (others == 0) break;
      const char* const stop = p + __builtin_ctz(others);
      if (*stop != '\\') return nullptr;  // a control character
      escaped = true;
      const char* const next = SkipEscape(stop, end);
      if (next == nullptr) return nullptr;
      advance = next - p;
      if (advance >= 16) break;
      const unsigned after = ~0u << advance;
      quotes &= after;
      others &= after;
      advance = 16;
    }
    p += advance;
  }
#endif
  for (;;) {
    while (p != end && !kStringStop[Byte(*p)]) ++p;
    if (p == end) return nullptr;
    if (*p == '"') return p + 1;
    if (*p != '\\') return nullptr;  // a control character
    escaped = true;
    if ((p = SkipEscape(p, end)) == nullptr) return nullptr;
  }
}

// Past `word` at `p`, or null.
[[gnu::always_inline]] inline const char* ScanLiteral(const char* p, const char* end, const char* word,
                                                      std::size_t size) {
  if (static_cast<std::size_t>(end - p) < size || std::memcmp(p, word, size) != 0) return nullptr;
  return p + size;
}

// Past the number at `p` (which is not `end`), or null. `unsure` is set for
// an exponent too long to judge here.
[[gnu::always_inline]] inline const char* ScanNumber(const char* p, const char* end, bool& unsure) {
  if (*p == '-') ++p;
  if (p == end || !IsDigit(*p)) return nullptr;
  if (*p++ != '0') {
    while (p != end && IsDigit(*p)) ++p;
  }
  if (p != end && *p == '.') {
    ++p;
    if (p == end || !IsDigit(*p)) return nullptr;
    while (p != end && IsDigit(*p)) ++p;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* const digits = p;
    if (p == end || !IsDigit(*p)) return nullptr;
    while (p != end && IsDigit(*p)) ++p;
    if (static_cast<std::size_t>(p - digits) >= kExponentDigitsJudged) unsure = true;
  }
  return p;
}

// The allowed names, matched without hashing: most names of an event are
// turned away by their length and first and last bytes alone, the others
// compared with the few allowed. A set too large to list is looked up.
class AllowedNames {
 public:
  explicit AllowedNames(const EventFieldStripper::FieldSet& allowed) {
    if (allowed.size() > kListed) {
      m_set = &allowed;
      m_sieve = ~std::uint64_t{0};
      return;
    }
    for (const std::string& name : allowed) {
      m_names[m_count++] = name;
      m_sieve |= Bit(name);
    }
  }

  bool Contains(std::string_view name) const {
    if ((m_sieve & Bit(name)) == 0) return false;
    if (m_set != nullptr) return m_set->contains(name);
    for (std::size_t i = 0; i < m_count; ++i) {
      if (m_names[i].size() == name.size() && std::memcmp(m_names[i].data(), name.data(), name.size()) == 0) {
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr std::size_t kListed = 16;

  static std::uint64_t Bit(std::string_view name) {
    if (name.empty()) return 1;
    return std::uint64_t{1} << ((name.size() * 7 + Byte(name.front()) * 3 + Byte(name.back())) & 63);
  }

  const EventFieldStripper::FieldSet* m_set = nullptr;
  std::uint64_t m_sieve = 0;
  std::array<std::string_view, kListed> m_names;
  std::size_t m_count = 0;
};

// White space between tokens: what came before it goes out, the space itself
// does not.
template <bool kCopy>
[[gnu::always_inline]] inline void Gap(const char*& p, const char* end, char*& w, const char*& run) {
  if (p == end || !kWhiteSpace[Byte(*p)]) return;
  if constexpr (kCopy) w = Write(w, run, p, end);
  p = SkipWhiteSpace(p, end);
  if constexpr (kCopy) run = p;
}

// A member's name, the colon and the white space about them.
template <bool kCopy>
[[gnu::always_inline]] inline bool Key(const char*& p, const char* end, char*& w, const char*& run) {
  bool escaped = false;
  if (p == end || *p != '"' || (p = ScanString(p, end, escaped)) == nullptr) return false;
  Gap<kCopy>(p, end, w, run);
  if (p == end || *p != ':') return false;
  ++p;
  Gap<kCopy>(p, end, w, run);
  return true;
}

// The value at `p`, containers read with a stack of their closing brackets
// (`closers`, `depth` deep) rather than by recursion. With kCopy, it goes
// out as the runs of text between its white space, the last run, from
// `run` to `p`, left to the caller.
template <bool kCopy>
[[gnu::always_inline]] inline bool Value(const char*& p, const char* end, char*& w, const char*& run,
                                         std::size_t& depth, char* closers, bool& unsure) {
  const std::size_t base = depth;
  for (;;) {
    if (p == end) return false;
    switch (*p) {
      case '{':
      case '[': {
        if (depth == kMaximumDepth) return false;
        const char close = *p == '{' ? '}' : ']';
        closers[++depth] = close;
        ++p;
        Gap<kCopy>(p, end, w, run);
        if (p != end && *p == close) {
          ++p;
          --depth;
          break;
        }
        if (close == '}' && !Key<kCopy>(p, end, w, run)) return false;
        continue;
      }
      case '"': {
        bool escaped = false;
        if ((p = ScanString(p, end, escaped)) == nullptr) return false;
        break;
      }
      case 't':
        if ((p = ScanLiteral(p, end, "true", 4)) == nullptr) return false;
        break;
      case 'f':
        if ((p = ScanLiteral(p, end, "false", 5)) == nullptr) return false;
        break;
      case 'n':
        if ((p = ScanLiteral(p, end, "null", 4)) == nullptr) return false;
        break;
      default:
        if ((p = ScanNumber(p, end, unsure)) == nullptr) return false;
    }
    // After a value: the separators and closing brackets up to the next.
    for (;;) {
      if (depth == base) return true;
      Gap<kCopy>(p, end, w, run);
      if (p == end) return false;
      if (*p == ',') {
        ++p;
        Gap<kCopy>(p, end, w, run);
        if (closers[depth] == '}' && !Key<kCopy>(p, end, w, run)) return false;
        break;
      }
      if (*p != closers[depth]) return false;
      ++p;
      --depth;
    }
  }
}

// What reading an event found.
struct Reading {
  bool read = false;  // false when the text is not JSON as Boost.JSON reads it
  bool null = false;
  bool unsure = false;  // an exponent too long to judge here was read
  std::size_t kept = 0;
  std::size_t removed = 0;
  std::size_t written = 0;
};

// Reads one event and writes its kept members to `out`, which has room for
// the text and kWriteSlack bytes more; the values of dropped members are
// only checked.
bool ReadEvent(std::string_view text, char* const out, const AllowedNames& allowed, std::string& unescaped,
               Reading& reading) {
  const char* p = text.data();
  const char* const end = p + text.size();
  char* w = out;
  const char* run = p;
  std::size_t depth = 0;
  bool unsure = false;
  std::size_t kept = 0;
  std::size_t removed = 0;
  std::array<char, kMaximumDepth + 1> closers;
  const auto finish = [&](bool read) {
    reading.unsure = unsure;
    reading.kept = kept;
    reading.removed = removed;
    reading.written = static_cast<std::size_t>(w - out);
    return read;
  };
  const auto atEnd = [&] { return SkipWhiteSpace(p, end) == end; };

  p = SkipWhiteSpace(p, end);
  if (p == end) return finish(false);
  if (*p == 'n') {
    if ((p = ScanLiteral(p, end, "null", 4)) == nullptr) return finish(false);
    reading.null = true;
    return finish(atEnd());
  }
  if (*p != '{') return finish(false);
  ++p;
  depth = 1;
  *w++ = '{';
  p = SkipWhiteSpace(p, end);
  if (p != end && *p == '}') {
    ++p;
    return finish(atEnd());
  }
  for (;;) {
    if (p == end || *p != '"') return finish(false);
    const char* const key = p;
    bool escaped = false;
    if ((p = ScanString(p, end, escaped)) == nullptr) return finish(false);
    const char* const keyEnd = p;
    p = SkipWhiteSpace(p, end);
    if (p == end || *p != ':') return finish(false);
    ++p;
    p = SkipWhiteSpace(p, end);
    std::string_view name(key + 1, static_cast<std::size_t>(keyEnd - key - 2));
    if (escaped) name = Unescape(name, unescaped);
    if (allowed.Contains(name)) {
      if (kept++ != 0) *w++ = ',';
      w = Write(w, key, keyEnd, end);
      *w++ = ':';
      run = p;
      if (!Value<true>(p, end, w, run, depth, closers.data(), unsure)) return finish(false);
      w = Write(w, run, p, end);
    } else {
      ++removed;
      if (!Value<false>(p, end, w, run, depth, closers.data(), unsure)) return finish(false);
    }
    p = SkipWhiteSpace(p, end);
    if (p == end) return finish(false);
    if (*p == ',') {
      ++p;
      p = SkipWhiteSpace(p, end);
      continue;
    }
    if (*p != '}') return finish(false);
    ++p;
    *w++ = '}';
    return finish(atEnd());
  }
}


}  // namespace

EventFieldStripper::EventFieldStripper() = default;

EventFieldStripper::~EventFieldStripper() = default;

EventFieldStripper::Outcome EventFieldStripper::Strip(std::string_view text, const FieldSet& allowed) {
  // Nothing written is longer than what was read, and Write wants room past it.
  if (m_capacity < text.size() + kWriteSlack) {
    m_out.reset(new char[text.size() + kWriteSlack]);
    m_capacity = text.size() + kWriteSlack;
  }
  Reading reading;
  reading.read = ReadEvent(text, m_out.get(), AllowedNames(allowed), m_name, reading);
  m_size = reading.written;
  if (!reading.read || reading.unsure || text.size() >= kMaximumJudgedSize) {
    // from_string's verdict, and its exception for a refusal.
    (void)base::from_string(text);
    if (!reading.read) {
      // Not reached while the reading above refuses only what from_string does.
      base::invalid_json_exception exception("string conversion to json error", __FILE__, __LINE__);
      exception.SetProperty("description_error", std::string("not read as JSON"));
      base::ThrowNested(std::move(exception));
    }
  }
  if (reading.null) return Outcome::kUnchanged;
  if (reading.removed == 0) return Outcome::kUnchanged;
  return reading.kept == 0 ? Outcome::kEmpty : Outcome::kStripped;
}

std::string_view EventFieldStripper::Stripped() const noexcept { return {m_out.get(), m_size}; }

}  // namespace sendara::edr_telemetry::telemetry
