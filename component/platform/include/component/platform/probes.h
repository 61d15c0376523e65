#pragma once

#include <cstdint>

namespace platform {

// Marker probes of the provider "edr_telemetry" for tracing tools (USDT).
// They cost a no-op when nothing is attached and carry no event content.
class Probes {
 public:
  // The handler signalled a full package: events counted since the last one.
  static void QueueFull(std::uint64_t eventsCounted) noexcept;
  // A sending pass of `client` starts.
  static void PassBegin(const void* client) noexcept;
  // A sending pass of `client` ends.
  static void PassEnd(const void* client) noexcept;
};

}  // namespace platform
