#pragma once

#include <cstdint>

namespace platform {

// Marker probes of the provider "edr_telemetry" for tracing tools: USDT
// probes on Linux, events of the Event Tracing for Windows provider
// {A5D214F9-3C2E-42C3-A3C4-249A45E032DD} on Windows (ids below). They cost
// next to nothing when nothing is attached and carry no event content.
class Probes {
 public:
  // Register and Unregister come in pairs, from any thread: the first
  // Register of the process registers the Windows provider, the last
  // Unregister unregisters it, and probes written outside those do nothing.
  // USDT probes need no registration: elsewhere both do nothing.
  static void Register() noexcept;
  static void Unregister() noexcept;
  // True while the Windows provider is registered with the system; always
  // false elsewhere.
  static bool IsRegistered() noexcept;

  // The handler signalled a full package: events counted since the last one
  // (event 1, with the count as one 64-bit field).
  static void QueueFull(std::uint64_t eventsCounted) noexcept;
  // A sending pass of `client` starts (event 5, with the address as one
  // 64-bit field).
  static void PassBegin(const void* client) noexcept;
  // A sending pass of `client` ends (event 6, likewise).
  static void PassEnd(const void* client) noexcept;
};

}  // namespace platform
