#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

namespace sendara::edr_telemetry::telemetry {

// Writes an event without its disallowed top-level members, building no
// document: the kept members go out as the slices of the event they stand in
// (a document would rewrite the numbers, 1.5 as 1.5E0, integers past 64 bits
// cut short). Names, numbers and strings keep the text they were written
// with, escapes included: an escaped lone surrogate stays the escape it was.
// Only the white space between tokens is left out, so that a pretty-printed
// event carries no line feed onto a line-framed wire. A member whose name is
// allowed goes out every time it stands in the event.
//
// The event is read once, and checked as it is read to accept what Boost.JSON
// accepts (at most kMaximumDepth levels of nesting); what it refuses, or an
// exponent too long to judge at a glance, is read again by from_string for
// its verdict, so that a refusal is the same exception as from_string's.
// Serves one thread at a time and keeps its buffers from one event to the
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
  // neither an object nor null. Names are compared unescaped ("\u0070id" is
  // "pid"; an escaped lone surrogate reads as U+FFFD).
  Outcome Strip(std::string_view text, const FieldSet& allowed);
  // The event of the last kStripped outcome, valid until the next Strip.
  std::string_view Stripped() const noexcept;

 private:
  std::unique_ptr<char[]> m_out;
  std::size_t m_capacity = 0;
  std::size_t m_size = 0;
  std::string m_name;
};

}  // namespace sendara::edr_telemetry::telemetry
