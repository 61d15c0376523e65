#include "component/sendara/edr_telemetry/source/client/telemetry/event_field_stripper.h"

#include <array>
#include <cstdint>

#include <boost/json/basic_parser_impl.hpp>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"

namespace sendara::edr_telemetry::telemetry {
namespace {

using boost::json::error_code;
using boost::json::string_view;

constexpr std::array<bool, 256> kNeedsEscape = [] {
  std::array<bool, 256> table{};
  for (std::size_t c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

// The parser hands over decoded text, valid UTF-8: only what JSON cannot
// hold raw is escaped.
void AppendEscaped(std::string& out, string_view text) {
  const char* next = text.data();
  const char* const end = next + text.size();
  while (next != end) {
    const char* const run = next;
    while (next != end && !kNeedsEscape[static_cast<unsigned char>(*next)]) ++next;
    out.append(run, static_cast<std::size_t>(next - run));
    if (next == end) break;
    const auto c = static_cast<unsigned char>(*next++);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        constexpr char kHex[] = "0123456789abcdef";
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
}

}  // namespace

// The handler of the parser. Members of the top-level object sit at depth 1;
// the value of a member whose name is not allowed is read and dropped.
class EventFieldStripper::Writer {
 public:
  static constexpr std::size_t max_object_size = static_cast<std::size_t>(-1);
  static constexpr std::size_t max_array_size = static_cast<std::size_t>(-1);
  static constexpr std::size_t max_key_size = static_cast<std::size_t>(-1);
  static constexpr std::size_t max_string_size = static_cast<std::size_t>(-1);

  void Start(const FieldSet& allowed, std::string_view text) {
    m_allowed = &allowed;
    m_text = text;
    m_out.clear();
    // Nothing written is longer than what was read: no growth while writing.
    m_out.reserve(text.size());
    m_depth = 0;
    m_comma = false;
    m_part = false;
    m_skipping = false;
    m_object = false;
    m_null = false;
    m_kept = 0;
    m_removed = 0;
  }
  bool IsObject() const { return m_object; }
  bool IsNull() const { return m_null; }
  std::size_t Kept() const { return m_kept; }
  std::size_t Removed() const { return m_removed; }
  std::string_view Out() const { return m_out; }

  bool on_document_begin(error_code&) { return true; }
  bool on_document_end(error_code&) { return true; }

  bool on_object_begin(error_code&) {
    if (m_depth == 0) m_object = true;
    Open('{');
    return true;
  }
  bool on_object_end(std::size_t, error_code&) {
    Close('}');
    return true;
  }
  bool on_array_begin(error_code&) {
    Open('[');
    return true;
  }
  bool on_array_end(std::size_t, error_code&) {
    Close(']');
    return true;
  }

  bool on_key_part(string_view text, std::size_t, error_code&) {
    if (m_depth == 1) {
      // The name decides, so it is gathered whole first.
      if (!m_part) m_key.clear();
      m_key.append(text);
      m_part = true;
    } else if (!m_skipping) {
      StringPart(text);
    }
    return true;
  }
  bool on_key(string_view text, std::size_t, error_code&) {
    if (m_depth == 1) {
      std::string_view name = text;
      if (m_part) {
        m_key.append(text);
        name = m_key;
        m_part = false;
      }
      if (!m_allowed->contains(name)) {
        ++m_removed;
        m_skipping = true;
        return true;
      }
      ++m_kept;
      BeginValue();
      m_out += '"';
      AppendText(name);
    } else if (m_skipping) {
      return true;
    } else {
      StringPart(text);
    }
    m_out += "\":";
    m_part = false;
    m_comma = false;
    return true;
  }

  bool on_string_part(string_view text, std::size_t, error_code&) {
    if (!m_skipping) StringPart(text);
    return true;
  }
  bool on_string(string_view text, std::size_t, error_code&) {
    if (Skipped()) return true;
    StringPart(text);
    m_out += '"';
    EndScalar();
    return true;
  }

  // The numbers are written as they stand in the text.
  bool on_number_part(string_view text, error_code&) {
    if (m_skipping) return true;
    if (!m_part) BeginValue();
    m_part = true;
    m_out.append(text);
    return true;
  }
  bool on_int64(std::int64_t, string_view text, error_code&) { return Number(text); }
  bool on_uint64(std::uint64_t, string_view text, error_code&) { return Number(text); }
  bool on_double(double, string_view text, error_code&) { return Number(text); }

  bool on_bool(bool value, error_code&) { return Literal(value ? "true" : "false"); }
  bool on_null(error_code&) {
    if (m_depth == 0) m_null = true;
    return Literal("null");
  }

  bool on_comment_part(string_view, error_code&) { return true; }
  bool on_comment(string_view, error_code&) { return true; }

 private:
  // Ends the value of a dropped member when it is at the top level; true
  // while a dropped value is being read.
  bool Skipped() {
    if (!m_skipping) return false;
    if (m_depth == 1) m_skipping = false;
    return true;
  }
  void BeginValue() {
    if (m_comma) m_out += ',';
  }
  void EndScalar() {
    m_part = false;
    m_comma = true;
  }
  void Open(char bracket) {
    ++m_depth;
    if (m_skipping) return;
    BeginValue();
    m_out += bracket;
    m_comma = false;
  }
  void Close(char bracket) {
    --m_depth;
    if (Skipped()) return;
    m_out += bracket;
    m_comma = true;
  }
  void StringPart(string_view text) {
    if (!m_part) {
      BeginValue();
      m_out += '"';
      m_part = true;
    }
    AppendText(text);
  }
  void AppendText(std::string_view text) {
    // The parser hands over a string without escapes as the slice of the
    // event it stands in, and such a slice holds nothing to escape.
    if (text.data() >= m_text.data() && text.data() + text.size() <= m_text.data() + m_text.size()) {
      m_out.append(text);
    } else {
      AppendEscaped(m_out, text);
    }
  }
  bool Number(string_view text) {
    if (Skipped()) return true;
    if (!m_part) BeginValue();
    m_out.append(text);
    EndScalar();
    return true;
  }
  bool Literal(std::string_view text) {
    if (Skipped()) return true;
    BeginValue();
    m_out.append(text);
    EndScalar();
    return true;
  }

  const FieldSet* m_allowed = nullptr;
  std::string_view m_text;
  std::string m_out;
  std::string m_key;
  std::size_t m_depth = 0;
  // A separator is due before the next key or value.
  bool m_comma = false;
  // A string or number has begun in an earlier part.
  bool m_part = false;
  bool m_skipping = false;
  bool m_object = false;
  bool m_null = false;
  std::size_t m_kept = 0;
  std::size_t m_removed = 0;
};

EventFieldStripper::EventFieldStripper() {
  boost::json::parse_options options;
  options.max_depth = base::kMaximumDepth;
  // Events come from ToUtf8, always valid UTF-8: checking it again costs
  // time for nothing.
  options.allow_invalid_utf8 = true;
  m_parser = std::make_unique<boost::json::basic_parser<Writer>>(options);
}

EventFieldStripper::~EventFieldStripper() = default;

EventFieldStripper::Outcome EventFieldStripper::Strip(std::string_view text, const FieldSet& allowed) {
  m_repaired = base::ReplaceLoneSurrogateEscapes(text);
  if (m_repaired) text = *m_repaired;

  // Reset as well after a parse a handler exception cut short.
  m_parser->reset();
  Writer& writer = m_parser->handler();
  writer.Start(allowed, text);
  error_code error;
  const std::size_t read = m_parser->write_some(false, text.data(), text.size(), error);
  if (!error && read < text.size()) error = boost::json::error::extra_data;
  if (error) {
    base::invalid_json_exception exception("string conversion to json error", __FILE__, __LINE__);
    exception.SetProperty("description_error", error.message());
    base::ThrowNested(std::move(exception));
  }
  if (writer.IsNull()) return Outcome::kUnchanged;
  if (!writer.IsObject()) {
    base::ThrowNested(base::invalid_json_exception("json not object or nullptr", __FILE__, __LINE__));
  }
  if (writer.Removed() == 0) return Outcome::kUnchanged;
  return writer.Kept() == 0 ? Outcome::kEmpty : Outcome::kStripped;
}

std::string_view EventFieldStripper::Stripped() const noexcept { return m_parser->handler().Out(); }

}  // namespace sendara::edr_telemetry::telemetry
