#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include <boost/json/basic_parser.hpp>

namespace sendara::edr_telemetry::telemetry {

// Writes an event without its disallowed top-level members as it reads it,
// building no document: a document would rewrite the kept numbers (1.5 as
// 1.5E0, integers past 64 bits cut short). The output is compact, so that a
// pretty-printed event carries no line feed onto a line-framed wire. Serves
// one thread at a time and keeps its parser and buffers from one event to the
// next.
class EventFieldStripper {
 public:
  // Looked up by the member names of events without copying them.
  struct FieldHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
      return std::hash<std::string_view>()(name);
    }
  };
  using FieldSet = std::unordered_set<std::string, FieldHash, std::equal_to<>>;

  enum class Outcome {
    kUnchanged,  // null, or every member allowed: the event goes as it came
    kStripped,   // Stripped() holds what is left
    kEmpty,      // no member allowed
  };

  EventFieldStripper();
  ~EventFieldStripper();
  EventFieldStripper(const EventFieldStripper&) = delete;
  EventFieldStripper& operator=(const EventFieldStripper&) = delete;

  // `text` is valid UTF-8, as ToUtf8 makes it. Raises
  // invalid_json_exception as from_string does: when `text` is not JSON, or
  // neither an object nor null. An escaped lone surrogate is read as U+FFFD.
  Outcome Strip(std::string_view text, const FieldSet& allowed);
  // The event of the last kStripped outcome, valid until the next Strip.
  std::string_view Stripped() const noexcept;

 private:
  class Writer;

  std::unique_ptr<boost::json::basic_parser<Writer>> m_parser;
  std::optional<std::string> m_repaired;
};

}  // namespace sendara::edr_telemetry::telemetry
