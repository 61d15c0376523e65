#pragma once

// Checks what an EventFieldStripper makes of an event against the event as
// from_string reads it (Boost.JSON): for the unit tests and the event path
// fuzzer.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/json.hpp>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_field_stripper.h"

namespace sendara::edr_telemetry::telemetry::testing {

// The exception's message and description, or nothing when `read` returns.
template <typename Read>
std::optional<std::string> JsonRefusal(Read&& read) {
  try {
    read();
  } catch (const base::invalid_json_exception& e) {
    const auto* description = e.FindProperty("description_error");
    return e.Message() + (description ? ": " + std::get<std::string>(*description) : "");
  }
  return std::nullopt;
}

// What is wrong with stripping `event` of the members `allowed` leaves out,
// or "" when nothing is: the same refusal as from_string's; the outcome the
// members call for; and a stripped event that reads as the allowed members
// in order with equal values, with no white space outside its strings and
// every byte taken, in order, from the event (nothing re-encoded).
inline std::string StrippingFault(EventFieldStripper& stripper, std::string_view event,
                                  const EventFieldStripper::FieldSet& allowed) {
  using Outcome = EventFieldStripper::Outcome;
  boost::json::value document;
  const std::optional<std::string> expectedRefusal = JsonRefusal([&] { document = base::from_string(event); });
  Outcome outcome{};
  const std::optional<std::string> refusal = JsonRefusal([&] { outcome = stripper.Strip(event, allowed); });
  if (expectedRefusal != refusal) {
    return "refusal: " + refusal.value_or("accepted") + ", from_string: " + expectedRefusal.value_or("accepted");
  }
  if (refusal) return "";
  if (document.is_null()) return outcome == Outcome::kUnchanged ? "" : "null not unchanged";

  std::vector<std::string> keptNames;
  boost::json::object kept;
  bool dropped = false;
  for (const auto& member : document.as_object()) {
    if (allowed.contains(std::string_view(member.key()))) {
      keptNames.emplace_back(member.key());
      kept.emplace(member.key(), member.value());
    } else {
      dropped = true;
    }
  }
  const Outcome expected = !dropped ? Outcome::kUnchanged : kept.empty() ? Outcome::kEmpty : Outcome::kStripped;
  if (outcome != expected) {
    return "outcome " + std::to_string(static_cast<int>(outcome)) + ", expected " +
           std::to_string(static_cast<int>(expected));
  }
  if (outcome != Outcome::kStripped) return "";

  const std::string_view stripped = stripper.Stripped();
  bool inString = false;
  for (std::size_t i = 0; i < stripped.size(); ++i) {
    const char c = stripped[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      return "white space at " + std::to_string(i) + " of " + std::string(stripped);
    }
  }
  std::size_t at = 0;
  for (const char c : stripped) {
    at = event.find(c, at);
    if (at == std::string_view::npos) return "not the event's bytes: " + std::string(stripped);
    ++at;
  }

  boost::json::value read;
  if (const auto unread = JsonRefusal([&] { read = base::from_string(stripped); })) {
    return "stripped event refused (" + *unread + "): " + std::string(stripped);
  }
  std::vector<std::string> readNames;
  for (const auto& member : read.as_object()) readNames.emplace_back(member.key());
  if (readNames != keptNames || read.as_object() != kept) {
    return "stripped event " + std::string(stripped) + " is not " + boost::json::serialize(kept);
  }
  return "";
}

}  // namespace sendara::edr_telemetry::telemetry::testing
