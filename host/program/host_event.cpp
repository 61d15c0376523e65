#include "host/program/host_event.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <boost/json.hpp>
#include <simdjson.h>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"
#include "component/sendara/base/detail/serializers/overlong_exponents.h"

namespace reference_host {
namespace {

namespace json = boost::json;

// How deep a line may nest: Boost.JSON's default, which lines have always
// been read with.
constexpr std::size_t kMaximumDepth = 32;
// One level short for simdjson: a line at the limit goes to Boost.JSON, which
// decides it as it always did.
constexpr std::size_t kFastMaximumDepth = kMaximumDepth - 1;

// A whole number from 0 to 2^32 - 1; nothing for any other value, which a
// conversion would throw for or cut short.
std::optional<std::uint32_t> Unsigned32(const json::value& value) {
  std::uint64_t number = 0;
  if (value.is_uint64()) {
    number = value.get_uint64();
  } else if (value.is_int64() && value.get_int64() >= 0) {
    number = static_cast<std::uint64_t>(value.get_int64());
  } else {
    return std::nullopt;
  }
  if (number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

bool ReadIoa(const json::value& value, sendara::edr_telemetry::Ioa& ioa) {
  if (!value.is_object()) return false;
  for (const auto& [name, member] : value.as_object()) {
    if (name == "guid" && member.is_string()) {
      ioa.guid = std::string(member.as_string());
    } else if (name == "version") {
      const std::optional<std::uint32_t> version = Unsigned32(member);
      if (!version) return false;
      ioa.version = *version;
    } else if (name == "isMarkable" && member.is_bool()) {
      ioa.isMarkable = member.as_bool();
    } else if (name == "isAlertable" && member.is_bool()) {
      ioa.isAlertable = member.as_bool();
    } else if (name == "isQdxStatExpected" && member.is_bool()) {
      ioa.isQdxStatExpected = member.as_bool();
    } else {
      return false;
    }
  }
  return true;
}

// The same readings on simdjson's document. Anything they refuse goes to the
// Boost.JSON reading, which then says why.
std::optional<std::uint32_t> Unsigned32(simdjson::dom::element value) {
  std::uint64_t number = 0;
  if (value.get_uint64().get(number)) return std::nullopt;
  if (number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

bool ReadIoa(simdjson::dom::element value, sendara::edr_telemetry::Ioa& ioa) {
  simdjson::dom::object object;
  if (value.get_object().get(object)) return false;
  for (const simdjson::dom::key_value_pair member : object) {
    const std::string_view name = member.key;
    bool flag = false;
    if (name == "guid" && member.value.is_string()) {
      ioa.guid = std::string(member.value.get_string().value_unsafe());
    } else if (name == "version") {
      const std::optional<std::uint32_t> version = Unsigned32(member.value);
      if (!version) return false;
      ioa.version = *version;
    } else if (member.value.get_bool().get(flag)) {
      return false;
    } else if (name == "isMarkable") {
      ioa.isMarkable = flag;
    } else if (name == "isAlertable") {
      ioa.isAlertable = flag;
    } else if (name == "isQdxStatExpected") {
      ioa.isQdxStatExpected = flag;
    } else {
      return false;
    }
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The first quote at or after `i`, or the end of `text`. `text` is followed
// by simdjson's padding: a block of 16 bytes read from any place inside it
// stays inside what was allocated. Strings are mostly short names and
// values, for which a call of memchr costs more than the search.
std::size_t NextQuote(std::string_view text, std::size_t i) {
#if defined(__SSE2__)
  static_assert(simdjson::SIMDJSON_PADDING >= 16);
  const __m128i quote = _mm_set1_epi8('"');
  for (; i < text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)))) {
      return std::min(text.size(), i + static_cast<std::size_t>(__builtin_ctz(mask)));
    }
  }
  return text.size();
#else
  const void* quote = i < text.size() ? std::memchr(text.data() + i, '"', text.size() - i) : nullptr;
  return quote ? static_cast<std::size_t>(static_cast<const char*>(quote) - text.data()) : text.size();
#endif
}

// Past the string that starts at `i` (at its opening quote): a quote after
// an even number of backslashes ends it.
std::size_t SkipString(std::string_view text, std::size_t i) {
  for (;;) {
    const std::size_t end = NextQuote(text, i + 1);
    if (end == text.size()) return end;
    std::size_t backslashes = 0;
    while (text[end - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return end + 1;
    i = end;
  }
}

// What the scanner stops at between strings: a quote or a bracket, and
// white space, which only makes the value's text not compact.
enum class Stop : std::uint8_t { kNone, kStructure, kSpace };
constexpr std::array<Stop, 256> kStops = [] {
  std::array<Stop, 256> table{};
  for (const char c : {'"', '{', '}', '[', ']'}) table[static_cast<unsigned char>(c)] = Stop::kStructure;
  for (const char c : {' ', '\t', '\n', '\r'}) table[static_cast<unsigned char>(c)] = Stop::kSpace;
  return table;
}();

// Past the value that starts at `i`; `spaced` is set when white space stands
// in it outside its strings.
std::size_t SkipValue(std::string_view text, std::size_t i, bool& spaced) {
  if (text[i] == '"') return SkipString(text, i);
  if (text[i] != '{' && text[i] != '[') {
    while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ']' && !IsSpace(text[i])) ++i;
    return i;
  }
  std::size_t depth = 0;
  for (;;) {
    for (Stop stop; (stop = kStops[static_cast<unsigned char>(text[i])]) != Stop::kStructure; ++i) {
      if (stop == Stop::kSpace) spaced = true;
    }
    const char c = text[i];
    if (c == '"') {
      i = SkipString(text, i);
      continue;
    }
    ++i;
    if (c == '{' || c == '[') {
      ++depth;
    } else if (--depth == 0) {
      return i;
    }
  }
}

struct EventValue {
  std::string_view text;
  // White space may stand in it outside its strings.
  bool spaced = false;
};

// The value of the member that closes the object `line` ends with, which
// starts at `i`: up to the closing brace, white space around it left out.
// Found from the end of the line: reading the value through to find its end
// costs more than minify does, which then takes out any white space.
EventValue LastValue(std::string_view line, std::size_t i) {
  std::size_t end = line.find_last_of('}');
  while (IsSpace(line[end - 1])) --end;
  return EventValue{line.substr(i, end - i), true};
}

// The text of the last top-level member "event" of `line`, which a parser
// has accepted as a JSON object of `members` members (0 when not known), as
// written there: copying it costs far less than writing it anew from a
// document. Nothing when there is none.
std::optional<EventValue> EventText(std::string_view line, std::size_t members = 0) {
  std::size_t i = line.find('{') + 1;
  std::optional<EventValue> found;
  for (std::size_t member = 1;; ++member) {
    while (IsSpace(line[i])) ++i;
    if (line[i] == '}') return found;
    const std::size_t keyEnd = SkipString(line, i);
    std::string_view key = line.substr(i + 1, keyEnd - i - 2);
    // A name spelt with an escape ("\u0065vent") is the name it stands for;
    // rare enough to have a parser read it.
    json::value decoded;
    if (key.find('\\') != std::string_view::npos) {
      boost::system::error_code error;
      decoded = json::parse(line.substr(i, keyEnd - i), error);
      if (error || !decoded.is_string()) return std::nullopt;
      key = decoded.get_string();
    }
    i = keyEnd;
    while (IsSpace(line[i]) || line[i] == ':') ++i;
    // Producers mostly write the event last.
    if (key == "event" && member == members) return LastValue(line, i);
    bool spaced = false;
    const std::size_t valueEnd = SkipValue(line, i, spaced);
    if (key == "event") found = EventValue{line.substr(i, valueEnd - i), spaced};
    i = valueEnd;
    while (IsSpace(line[i]) || line[i] == ',') ++i;
  }
}

// The "event" member of `line` as written, but compact: a line framing on the
// wire must meet no line feed inside an event. `line` is followed by
// simdjson's padding, which minify may read. `members` as for EventText.
std::optional<std::u16string> CompactEventText(std::string_view line, std::size_t members = 0) {
  const std::optional<EventValue> event = EventText(line, members);
  if (!event) return std::nullopt;
  // Producers mostly write compact lines already.
  if (!event->spaced) return sendara::base::ToUtf16(event->text);
  thread_local std::string compact;
  compact.resize(event->text.size() + simdjson::SIMDJSON_PADDING);
  std::size_t size = 0;
  if (simdjson::minify(event->text.data(), event->text.size(), compact.data(), size)) return std::nullopt;
  return sendara::base::ToUtf16(std::string_view(compact.data(), size));
}

// simdjson's reading of a line, which simdjson's padding follows: several
// times faster than Boost.JSON's on event lines. Nothing when it refuses the
// line; numbers beyond 64 bits among them, which Boost.JSON reads.
std::optional<HostEvent> ParseFast(std::string_view line) {
  thread_local simdjson::dom::parser parser;
  if (parser.max_depth() != kFastMaximumDepth && parser.allocate(line.size(), kFastMaximumDepth)) return std::nullopt;
  simdjson::dom::element root;
  simdjson::dom::object object;
  if (parser.parse(line.data(), line.size(), false).get(root) || root.get_object().get(object)) return std::nullopt;
  // A number with an overlong exponent, which simdjson reads and Boost.JSON
  // refuses: a line malformed in both readings.
  if (sendara::base::MayHoldOverlongExponent(line, root)) return std::nullopt;
  // The last of members with equal names counts, as in Boost.JSON's reading.
  std::optional<simdjson::dom::element> type, id, ioas, body;
  for (const simdjson::dom::key_value_pair member : object) {
    if (member.key == "eventType") type = member.value;
    else if (member.key == "throttlingId") id = member.value;
    else if (member.key == "ioas") ioas = member.value;
    else if (member.key == "event") body = member.value;
  }
  std::string_view typeText;
  if (!type || type->get_string().get(typeText) || !body || !body->is_object()) return std::nullopt;
  HostEvent event;
  event.eventType = sendara::base::ToUtf16(typeText);
  if (id) {
    const std::optional<std::uint32_t> value = Unsigned32(*id);
    if (!value) return std::nullopt;
    event.throttlingId = *value;
  }
  if (ioas) {
    simdjson::dom::array items;
    if (ioas->get_array().get(items)) return std::nullopt;
    for (const simdjson::dom::element item : items) {
      sendara::edr_telemetry::Ioa ioa;
      if (!ReadIoa(item, ioa)) return std::nullopt;
      event.ioas.push_back(std::move(ioa));
    }
  }
  std::optional<std::u16string> text = CompactEventText(line, object.size());
  if (!text) return std::nullopt;
  event.text = std::move(*text);
  return event;
}

// The offset of the first byte of `text` that does not belong to well-formed
// UTF-8 (overlong forms, surrogates and code points past U+10FFFF included),
// or nothing when it is all well-formed.
std::optional<std::size_t> FirstNonUtf8Byte(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + length > text.size() || bytes[i + 1] < low || bytes[i + 1] > high) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return i;
    }
    i += length;
  }
  return std::nullopt;
}

// Parse without a second reading of escaped lone surrogates.
std::optional<HostEvent> ParseAsWritten(std::string_view line, std::string& error) {
  thread_local std::string padded;
  padded.assign(line);
  padded.append(simdjson::SIMDJSON_PADDING, '\0');
  const std::string_view paddedLine(padded.data(), line.size());
  if (std::optional<HostEvent> event = ParseFast(paddedLine)) return event;
  std::optional<HostEvent> event = HostEvent::ParseWithBoostJson(line, error);
  // As written here too: Boost.JSON writes a number beyond a double's range
  // as Infinity, which is not JSON, and any other number may come spelt
  // otherwise.
  if (event) {
    if (std::optional<std::u16string> text = CompactEventText(paddedLine)) event->text = std::move(*text);
  }
  return event;
}

}  // namespace

std::optional<HostEvent> HostEvent::Parse(std::string_view line, std::string& error) {
  std::optional<HostEvent> event = ParseAsWritten(line, error);
  if (event) return event;
  // An escaped lone surrogate (file names on the agent's platform can hold
  // one) is read as U+FFFD, as the component reads it; the rare line that
  // holds one is read again with those escapes replaced.
  if (const std::optional<std::string> replaced = sendara::base::ReplaceLoneSurrogateEscapes(line)) {
    return ParseAsWritten(*replaced, error);
  }
  return event;
}

std::optional<HostEvent> HostEvent::ParseWithBoostJson(std::string_view line, std::string& error) {
  boost::system::error_code parseError;
  json::parse_options options;
  options.max_depth = kMaximumDepth;
  const json::value document = json::parse(line, parseError, {}, options);
  if (parseError) {
    if (const std::optional<std::size_t> at = FirstNonUtf8Byte(line)) {
      error = "not UTF-8 at byte " + std::to_string(*at);
    } else {
      error = "not JSON: " + parseError.message();
    }
    return std::nullopt;
  }
  if (!document.is_object()) {
    error = "not a JSON object";
    return std::nullopt;
  }
  const json::object& object = document.as_object();
  HostEvent event;
  const json::value* type = object.if_contains("eventType");
  if (!type || !type->is_string()) {
    error = "\"eventType\" should be a string";
    return std::nullopt;
  }
  event.eventType = sendara::base::ToUtf16(type->as_string());
  if (const json::value* id = object.if_contains("throttlingId")) {
    if (!id->is_uint64() && !(id->is_int64() && id->as_int64() >= 0)) {
      error = "\"throttlingId\" should be a number";
      return std::nullopt;
    }
    const std::uint64_t value = id->to_number<std::uint64_t>();
    if (value > std::numeric_limits<std::uint32_t>::max()) {
      error = "\"throttlingId\" is out of range";
      return std::nullopt;
    }
    event.throttlingId = static_cast<std::uint32_t>(value);
  }
  if (const json::value* ioas = object.if_contains("ioas")) {
    if (!ioas->is_array()) {
      error = "\"ioas\" should be an array";
      return std::nullopt;
    }
    for (const json::value& item : ioas->as_array()) {
      sendara::edr_telemetry::Ioa ioa;
      if (!ReadIoa(item, ioa)) {
        error = "an IOA is not {guid, version, isMarkable, isAlertable, isQdxStatExpected}";
        return std::nullopt;
      }
      event.ioas.push_back(std::move(ioa));
    }
  }
  const json::value* body = object.if_contains("event");
  if (!body || !body->is_object()) {
    error = "\"event\" should be an object";
    return std::nullopt;
  }
  event.text = sendara::base::ToUtf16(json::serialize(*body));
  return event;
}

}  // namespace reference_host
