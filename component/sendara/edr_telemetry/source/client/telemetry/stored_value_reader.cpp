#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include <boost/json/value.hpp>
#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"

namespace sendara::edr_telemetry::telemetry {

namespace {

// The form the client writes, the one nearly every row has.
constexpr std::string_view kWrittenHead = R"({"severity":0,"text":")";
constexpr std::string_view kWrittenTail = R"("})";
constexpr std::size_t kBlock = 16;

bool IsSpecial(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

// What each one-letter escape stands for; 0 for the letters JSON does not
// have. A table rather than a switch: escapes follow each other in no
// order a branch predictor could learn.
constexpr std::array<char, 256> kShortEscapes = [] {
  std::array<char, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  table['b'] = '\b';
  table['f'] = '\f';
  table['n'] = '\n';
  table['r'] = '\r';
  table['t'] = '\t';
  return table;
}();

#if defined(__SSE2__)
// The bytes of 64 that a JSON string cannot hold as they are, by kind: bit k
// stands for byte k.
struct SpecialBytes {
  std::uint64_t quotes = 0;
  std::uint64_t backslashes = 0;
  std::uint64_t controls = 0;

  explicit SpecialBytes(const char* chunk) {
    const __m128i lastControl = _mm_set1_epi8(0x1F);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < 64; k += kBlock) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + k));
      quotes |= Bits(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')), k);
      backslashes |= Bits(_mm_cmpeq_epi8(block, _mm_set1_epi8('\\')), k);
      // max(b, 0x1F) == 0x1F exactly when b <= 0x1F, unsigned.
      controls |= Bits(_mm_cmpeq_epi8(_mm_max_epu8(block, lastControl), lastControl), k);
    }
  }
  std::uint64_t All() const { return quotes | backslashes | controls; }

 private:
  static std::uint64_t Bits(__m128i matches, std::size_t at) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(matches))) << at;
  }
};

// The bytes that a backslash before them escapes, in 64 that start outside
// any escape: a byte after a run of backslashes of odd length. Runs are told
// odd from even by where they start, with an addition carrying through
// each run (the way simdjson finds them).
std::uint64_t EscapedBytes(std::uint64_t backslashes) {
  constexpr std::uint64_t kEvenBits = 0x5555555555555555;
  const std::uint64_t followsBackslash = backslashes << 1;
  const std::uint64_t oddStarts = backslashes & ~kEvenBits & ~followsBackslash;
  // A carry out of the top bit would concern the next 64 bytes, which start
  // outside any escape by the callers' rule.
  std::uint64_t evenStartsEnded = 0;
  __builtin_add_overflow(oddStarts, backslashes, &evenStartsEnded);
  return (kEvenBits ^ (evenStartsEnded << 1)) & followsBackslash;
}

// For each set of bytes of eight to drop (a bit each): the pshufb indices
// that gather the others, in order, and how many they are.
struct KeptBytes {
  std::array<std::uint8_t, 8> indices{};
  std::uint8_t count = 0;
};
constexpr std::array<KeptBytes, 256> kKeptBytes = [] {
  std::array<KeptBytes, 256> table{};
  for (unsigned dropped = 0; dropped < 256; ++dropped) {
    KeptBytes& kept = table[dropped];
    for (std::uint8_t k = 0; k < 8; ++k) {
      if (!(dropped >> k & 1)) kept.indices[kept.count++] = k;
    }
  }
  return table;
}();

// Writes the 64 bytes at `in` less those whose bits in `dropped` are set
// to `out`, 8 bytes at a time (up to 8 bytes past what it keeps); returns
// the end of what it kept.
__attribute__((target("ssse3"))) char* CopyKept(const char* in, std::uint64_t dropped, char* out) {
#pragma GCC unroll 4
  for (std::size_t k = 0; k < 64; k += kBlock) {
    const unsigned low = dropped >> k & 0xFF;
    const unsigned high = dropped >> (k + 8) & 0xFF;
    const __m128i shuffle = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kKeptBytes[low].indices.data())),
        _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kKeptBytes[high].indices.data())),
                     _mm_set1_epi8(8)));
    const __m128i kept = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)), shuffle);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), kept);
    out += kKeptBytes[low].count;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(kept, kept));
    out += kKeptBytes[high].count;
  }
  return out;
}

bool HasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

// Unescapes the 64 bytes at `in`, which start outside any escape, when all
// their escapes are of one letter (\" \\ \/ \b \f \n \r \t) and none
// reaches past them: each escape becomes what it stands for in place and its
// backslash is dropped, with no branch for each. Returns how many bytes it
// read (64, or 63 when the last one starts an escape); 0 when it left them
// to the walk by escapes (a \u escape, a quote or control character, which
// that walk refuses, or an escape JSON does not have).
std::size_t UnescapeChunk(const char* in, const SpecialBytes& special, char*& out) {
  const std::uint64_t escaped = EscapedBytes(special.backslashes);
  if (special.controls || special.quotes & ~escaped) return 0;
  const std::uint64_t dropped = special.backslashes & ~escaped;
  // A backslash in the last byte: its escape is the next chunk's.
  const std::size_t read = dropped >> 63 ? 63 : 64;
  // Escaped letters change; an escaped quote or backslash stays as it is.
  std::uint64_t letters = escaped & ~special.quotes & ~special.backslashes;
  alignas(16) char changed[64];
  const char* source = in;
  if (letters) {
    std::memcpy(changed, in, sizeof changed);
    for (; letters; letters &= letters - 1) {
      char& letter = changed[__builtin_ctzll(letters)];
      letter = kShortEscapes[static_cast<unsigned char>(letter)];
      if (!letter) return 0;
    }
    source = changed;
  }
  // That last backslash is among the dropped bytes, so nothing of its
  // escape is written.
  out = CopyKept(source, dropped, out);
  return read;
}
#endif

// The \u escape at `in` (at its backslash) written to `out`: where reading
// and writing go on, or nullptr for a cut one or a lone surrogate (left to
// the full parsers, which read it as U+FFFD).
std::pair<const char*, char*> UnescapeCodePoint(const char* in, const char* end, char* out) {
  const std::string_view rest(in, static_cast<std::size_t>(end - in));
  const std::int32_t unit = base::EscapedUnitAt(rest, 0);
  if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return {nullptr, out};
  if (unit < 0xD800 || unit > 0xDBFF) return {in + 6, base::EncodeUtf8(static_cast<char32_t>(unit), out)};
  const std::int32_t low = base::EscapedUnitAt(rest, 6);
  if (low < 0xDC00 || low > 0xDFFF) return {nullptr, out};
  const char32_t code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
  return {in + 12, base::EncodeUtf8(code, out)};
}

// The escape at `in` (at its backslash) written to `out`: where reading and
// writing go on, or nullptr for one JSON does not have or a cut one. Kept
// small, so that it is inlined and `out` stays in a register.
inline std::pair<const char*, char*> Unescape(const char* in, const char* end, char* out) {
  if (end - in < 2) return {nullptr, out};
  if (const char c = kShortEscapes[static_cast<unsigned char>(in[1])]) {
    *out = c;
    return {in + 2, out + 1};
  }
  if (in[1] != 'u') return {nullptr, out};
  return UnescapeCodePoint(in, end, out);
}

// Copies `size` bytes a block at a time: may read and write up to a block
// past them, which the callers leave room for.
[[maybe_unused]] void CopyBlocks(const char* in, std::size_t size, char* out) {
  for (std::size_t k = 0; k < size; k += kBlock) std::memcpy(out + k, in + k, kBlock);
}

// The text of a row in the written form, unescaped; false for anything else
// (another member order, white space, a lone surrogate, bytes that are not
// UTF-8, a cut row), which the full parsers then judge. Escapes are dense in
// an event's text (every name and string value is quoted), so the places of
// the escapes in 64 bytes are found at once and taken one after the other
// from that mask: finding the next one does not wait for the bytes the last
// one wrote. No escape is shorter than what it stands for, so the text fits
// in the row's length. `text` is a buffer that keeps its size from row to
// row (what it holds is `length` bytes), so that no row pays for filling it.
bool ReadWrittenForm(std::string_view value, std::string& text, std::size_t& length) {
  if (value.size() < kWrittenHead.size() + kWrittenTail.size() || !value.starts_with(kWrittenHead) ||
      !value.ends_with(kWrittenTail)) {
    return false;
  }
  const char* const in = value.data() + kWrittenHead.size();
  const std::size_t size = value.size() - kWrittenHead.size() - kWrittenTail.size();
  const char* const end = in + size;
  if (text.size() < size + kBlock) text.resize(size + kBlock);
  char* out = text.data();
  std::size_t at = 0;  // the first byte not yet read
#if defined(__SSE2__)
  // A chunk and the block copies that may run past it stay inside the row.
  const bool compacts = HasSsse3();
  while (at + 80 <= size) {
    const std::size_t base = at;
    const SpecialBytes special(in + base);
    if (compacts) {
      if (const std::size_t read = UnescapeChunk(in + base, special, out)) {
        at += read;
        continue;
      }
    }
    std::uint64_t mask = special.All();
    while (mask) {
      const std::size_t place = base + static_cast<std::size_t>(__builtin_ctzll(mask));
      CopyBlocks(in + at, place - at, out);
      out += place - at;
      // A quote inside means the string ended before the tail; a control
      // character is not JSON.
      if (in[place] != '\\') return false;
      const auto [next, written] = Unescape(in + place, end, out);
      if (!next) return false;
      out = written;
      at = static_cast<std::size_t>(next - in);
      // What the escape took (the escaped quote or backslash) is no escape.
      mask = at - base < 64 ? mask & ~std::uint64_t{0} << (at - base) : 0;
    }
    if (at < base + 64) {
      CopyBlocks(in + at, base + 64 - at, out);
      out += base + 64 - at;
      at = base + 64;
    }
  }
#endif
  while (at < size) {
    if (!IsSpecial(static_cast<unsigned char>(in[at]))) {
      *out++ = in[at++];
      continue;
    }
    if (in[at] != '\\') return false;
    const auto [next, written] = Unescape(in + at, end, out);
    if (!next) return false;
    out = written;
    at = static_cast<std::size_t>(next - in);
  }
  length = static_cast<std::size_t>(out - text.data());
  return simdjson::validate_utf8(text.data(), length);
}

}  // namespace

struct StoredValueReader::Parser {
  simdjson::dom::parser parser;
  // The row, followed by the padding simdjson reads past its end.
  std::string padded;
  // What Text last returned, and room for the next.
  std::string text;
};

StoredValueReader::StoredValueReader() : m_parser(std::make_unique<Parser>()) {}
StoredValueReader::~StoredValueReader() = default;

std::optional<std::string_view> StoredValueReader::Text(std::string_view value) {
  std::string& buffer = m_parser->text;
  if (std::size_t length = 0; ReadWrittenForm(value, buffer, length)) return std::string_view(buffer.data(), length);
  std::string& padded = m_parser->padded;
  padded.assign(value);
  padded.append(simdjson::SIMDJSON_PADDING, '\0');
  simdjson::dom::element root;
  if (!m_parser->parser.parse(padded.data(), value.size(), false).get(root)) {
    simdjson::dom::object object;
    if (root.get_object().get(object)) return std::nullopt;
    // The last of equal names counts, as Boost.JSON keeps it.
    std::optional<simdjson::dom::element> text;
    for (const simdjson::dom::key_value_pair member : object) {
      if (member.key == "text") text = member.value;
    }
    std::string_view chars;
    if (!text || text->get_string().get(chars)) return std::nullopt;
    buffer.assign(chars);
    return std::string_view(buffer);
  }
  try {
    const boost::json::value document = base::from_string(value);
    const boost::json::object* object = document.if_object();
    const boost::json::value* text = object ? object->if_contains("text") : nullptr;
    if (!text || !text->is_string()) return std::nullopt;
    buffer.assign(text->get_string());
    return std::string_view(buffer);
  } catch (const base::invalid_json_exception&) {
    return std::nullopt;
  }
}

}  // namespace sendara::edr_telemetry::telemetry
