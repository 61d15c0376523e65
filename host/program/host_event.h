#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"

namespace reference_host {

// One line of the host program's event input:
// {"eventType", "throttlingId", "ioas": [...], "event": {...}}.
struct HostEvent {
  std::u16string eventType;
  std::uint32_t throttlingId = 0;
  std::vector<sendara::edr_telemetry::Ioa> ioas;
  // The compact JSON text of "event", as the producer hands it over.
  std::u16string text;

  // Nothing for a line that is not such an object; `error` then says why.
  // Read by simdjson, and by ParseWithBoostJson where simdjson refuses the
  // line (a number beyond 64 bits, nesting at the limit, or a line that is
  // not such an object, which that reading then explains) or reads a number
  // that Boost.JSON refuses.
  // An escaped lone surrogate reads as U+FFFD, as in the component.
  static std::optional<HostEvent> Parse(std::string_view line, std::string& error);
  // The same reading by Boost.JSON alone, member for member; "event" comes
  // as Boost.JSON writes it, which may spell numbers otherwise (one beyond a
  // double's range as Infinity, which Parse, handing "event" over as
  // written, never does).
  static std::optional<HostEvent> ParseWithBoostJson(std::string_view line, std::string& error);
};

}  // namespace reference_host
