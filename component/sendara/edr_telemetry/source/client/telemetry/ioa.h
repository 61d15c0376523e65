#pragma once

#include <cstdint>
#include <string>

namespace sendara::edr_telemetry {

// One indicator of attack attached to an event. An event is tagged when one
// of its IOAs is markable.
struct Ioa {
  std::string guid;
  std::uint32_t version = 0;
  bool isMarkable = false;
  bool isAlertable = false;
  bool isQdxStatExpected = false;
};

}  // namespace sendara::edr_telemetry
