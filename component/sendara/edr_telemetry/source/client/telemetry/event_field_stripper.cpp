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

// Reads one event and writes its kept members to `out`. A value read with
// kCopy goes out as the runs of text between its white space; the values of
// dropped members are only checked.
class Reader {
 public:
  Reader(std::string_view text, char* out, std::string& name)
      : m_p(text.data()), m_end(text.data() + text.size()), m_run(m_p), m_begin(out), m_w(out), m_name(name) {}

  // False when the text is not JSON as Boost.JSON reads it.
  bool Read(const EventFieldStripper::FieldSet& allowed) {
    SkipWhiteSpace();
    if (m_p == m_end) return false;
    if (*m_p == 'n') {
      if (!Literal("null", 4)) return false;
      m_null = true;
      return AtEnd();
    }
    if (*m_p != '{') return false;
    ++m_p;
    m_depth = 1;
    *m_w++ = '{';
    SkipWhiteSpace();
    if (m_p != m_end && *m_p == '}') {
      ++m_p;
      return AtEnd();
    }
    for (;;) {
      if (m_p == m_end || *m_p != '"') return false;
      const char* const key = m_p;
      m_escaped = false;
      if (!String()) return false;
      const char* const keyEnd = m_p;
      SkipWhiteSpace();
      if (m_p == m_end || *m_p != ':') return false;
      ++m_p;
      SkipWhiteSpace();
      std::string_view name(key + 1, static_cast<std::size_t>(keyEnd - key - 2));
      if (m_escaped) name = Unescape(name, m_name);
      if (allowed.contains(name)) {
        if (m_kept++ != 0) *m_w++ = ',';
        Write(key, keyEnd);
        *m_w++ = ':';
        m_run = m_p;
        if (!Value<true>()) return false;
        Write(m_run, m_p);
      } else {
        ++m_removed;
        if (!Value<false>()) return false;
      }
      SkipWhiteSpace();
      if (m_p == m_end) return false;
      if (*m_p == ',') {
        ++m_p;
        SkipWhiteSpace();
        continue;
      }
      if (*m_p != '}') return false;
      ++m_p;
      *m_w++ = '}';
      return AtEnd();
    }
  }

  bool IsNull() const { return m_null; }
  // An exponent too long to judge here was read.
  bool Unsure() const { return m_unsure; }
  std::size_t Kept() const { return m_kept; }
  std::size_t Removed() const { return m_removed; }
  std::size_t Written() const { return static_cast<std::size_t>(m_w - m_begin); }

 private:
  void SkipWhiteSpace() {
    if (m_p == m_end || !kWhiteSpace[Byte(*m_p)]) return;
    ++m_p;
#if defined(__SSE2__)
    // Pretty-printed events indent their lines: long runs, taken 16 bytes
    // at a time.
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    while (m_end - m_p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_p));
      const __m128i white =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, space), _mm_cmpeq_epi8(bytes, tab)),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeed), _mm_cmpeq_epi8(bytes, carriageReturn)));
      const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(white)) & 0xFFFF;
      if (other != 0) {
        m_p += __builtin_ctz(other);
        return;
      }
      m_p += 16;
    }
#endif
    while (m_p != m_end && kWhiteSpace[Byte(*m_p)]) ++m_p;
  }
  bool AtEnd() {
    SkipWhiteSpace();
    return m_p == m_end;
  }
  void Write(const char* begin, const char* end) {
    const auto size = static_cast<std::size_t>(end - begin);
    std::memcpy(m_w, begin, size);
    m_w += size;
  }
  // White space between tokens: what came before it goes out, the space
  // itself does not.
  template <bool kCopy>
  void Gap() {
    if (m_p == m_end || !kWhiteSpace[Byte(*m_p)]) return;
    if constexpr (kCopy) Write(m_run, m_p);
    SkipWhiteSpace();
    if constexpr (kCopy) m_run = m_p;
  }

  // A member's name, the colon and the white space about them.
  template <bool kCopy>
  bool Key() {
    if (m_p == m_end || *m_p != '"' || !String()) return false;
    Gap<kCopy>();
    if (m_p == m_end || *m_p != ':') return false;
    ++m_p;
    Gap<kCopy>();
    return true;
  }

  // The value at m_p, containers read with a stack of their closing
  // brackets rather than by recursion.
  template <bool kCopy>
  bool Value() {
    const std::size_t base = m_depth;
    for (;;) {
      if (m_p == m_end) return false;
      switch (*m_p) {
        case '{':
        case '[': {
          if (m_depth == kMaximumDepth) return false;
          const char close = *m_p == '{' ? '}' : ']';
          m_closers[++m_depth] = close;
          ++m_p;
          Gap<kCopy>();
          if (m_p != m_end && *m_p == close) {
            ++m_p;
            --m_depth;
            break;
          }
          if (close == '}' && !Key<kCopy>()) return false;
          continue;
        }
        case '"':
          if (!String()) return false;
          break;
        case 't':
          if (!Literal("true", 4)) return false;
          break;
        case 'f':
          if (!Literal("false", 5)) return false;
          break;
        case 'n':
          if (!Literal("null", 4)) return false;
          break;
        default:
          if (!Number()) return false;
      }
      // After a value: the separators and closing brackets up to the next.
      for (;;) {
        if (m_depth == base) return true;
        Gap<kCopy>();
        if (m_p == m_end) return false;
        if (*m_p == ',') {
          ++m_p;
          Gap<kCopy>();
          if (m_closers[m_depth] == '}' && !Key<kCopy>()) return false;
          break;
        }
        if (*m_p != m_closers[m_depth]) return false;
        ++m_p;
        --m_depth;
      }
    }
  }

  bool Literal(const char* word, std::size_t size) {
    if (static_cast<std::size_t>(m_end - m_p) < size || std::memcmp(m_p, word, size) != 0) return false;
    m_p += size;
    return true;
  }

  bool Number() {
    const char* p = m_p;
    if (*p == '-') ++p;
    if (p == m_end || !IsDigit(*p)) return false;
    if (*p++ != '0') {
      while (p != m_end && IsDigit(*p)) ++p;
    }
    if (p != m_end && *p == '.') {
      ++p;
      if (p == m_end || !IsDigit(*p)) return false;
      while (p != m_end && IsDigit(*p)) ++p;
    }
    if (p != m_end && (*p == 'e' || *p == 'E')) {
      ++p;
      if (p != m_end && (*p == '+' || *p == '-')) ++p;
      const char* const digits = p;
      if (p == m_end || !IsDigit(*p)) return false;
      while (p != m_end && IsDigit(*p)) ++p;
      if (static_cast<std::size_t>(p - digits) >= kExponentDigitsJudged) m_unsure = true;
    }
    m_p = p;
    return true;
  }

  // The string at m_p, its quotes included; escapes are checked, and noted.
  bool String() {
    const char* p = m_p + 1;
    for (;;) {
#if defined(__SSE2__)
      const __m128i quote = _mm_set1_epi8('"');
      const __m128i backslash = _mm_set1_epi8('\\');
      const __m128i lastControl = _mm_set1_epi8(0x1F);
      while (m_end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stops =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                         _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl));
        const int mask = _mm_movemask_epi8(stops);
        if (mask != 0) {
          p += __builtin_ctz(static_cast<unsigned>(mask));
          goto stop;
        }
        p += 16;
      }
#endif
      while (p != m_end && !kStringStop[Byte(*p)]) ++p;
#if defined(__SSE2__)
    stop:
#endif
      if (p == m_end) return false;
      if (*p == '"') {
        m_p = p + 1;
        return true;
      }
      if (*p != '\\' || m_end - p < 2) return false;  // a control character, or a cut escape
      m_escaped = true;
      switch (p[1]) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
          p += 2;
          break;
        case 'u':
          if (m_end - p < 6 || HexUnit(p + 2) < 0) return false;
          p += 6;
          break;
        default:
          return false;
      }
    }
  }

  const char* m_p;
  const char* const m_end;
  // Where the text not yet written of a kept value begins.
  const char* m_run;
  char* const m_begin;
  char* m_w;
  std::string& m_name;
  std::size_t m_depth = 0;
  std::array<char, kMaximumDepth + 1> m_closers;
  bool m_escaped = false;
  bool m_unsure = false;
  bool m_null = false;
  std::size_t m_kept = 0;
  std::size_t m_removed = 0;
};

}  // namespace

EventFieldStripper::EventFieldStripper() = default;

EventFieldStripper::~EventFieldStripper() = default;

EventFieldStripper::Outcome EventFieldStripper::Strip(std::string_view text, const FieldSet& allowed) {
  // Nothing written is longer than what was read.
  if (m_capacity < text.size()) {
    m_out.reset(new char[text.size()]);
    m_capacity = text.size();
  }
  Reader reader(text, m_out.get(), m_name);
  const bool read = reader.Read(allowed);
  m_size = reader.Written();
  if (!read || reader.Unsure() || text.size() >= kMaximumJudgedSize) {
    // from_string's verdict, and its exception for a refusal.
    (void)base::from_string(text);
    if (!read) {
      // Not reached while the reading above refuses only what from_string does.
      base::invalid_json_exception exception("string conversion to json error", __FILE__, __LINE__);
      exception.SetProperty("description_error", std::string("not read as JSON"));
      base::ThrowNested(std::move(exception));
    }
  }
  if (reader.IsNull()) return Outcome::kUnchanged;
  if (reader.Removed() == 0) return Outcome::kUnchanged;
  return reader.Kept() == 0 ? Outcome::kEmpty : Outcome::kStripped;
}

std::string_view EventFieldStripper::Stripped() const noexcept { return {m_out.get(), m_size}; }

}  // namespace sendara::edr_telemetry::telemetry
