#pragma once

#include <cstdint>
#include <vector>

#include "component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h"

namespace sendara::edr_telemetry {

// The event types one consumer wants, as the producer reads them.
struct ConsumerEventTypeSettings {
  std::uint64_t consumerId = 0;
  std::vector<EventTypeSetting> eventsTypeSettings;
};

}  // namespace sendara::edr_telemetry
