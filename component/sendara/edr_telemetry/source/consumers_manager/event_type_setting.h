#pragma once

#include <string>

namespace sendara::edr_telemetry {

// Whether a consumer wants the events of one type.
struct EventTypeSetting {
  std::u16string event;
  bool included = false;

  bool operator==(const EventTypeSetting&) const = default;
};

}  // namespace sendara::edr_telemetry
