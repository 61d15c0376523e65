#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sendara::edr_telemetry::task {

// What a change of a consumer's event types, computed under its mutex, asks
// to be told once the mutex is released.
struct ConsumerReaction {
  // The manager's listeners are to hear that the consumer changed.
  bool actualEventTypesChanged = false;
  // The excluded event types the change produced, when they changed.
  std::optional<std::vector<std::u16string>> excluded;
};

}  // namespace sendara::edr_telemetry::task
