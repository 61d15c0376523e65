// The POSIX half; probes_windows.cpp is the Windows one.

#include "component/platform/probes.h"

#include <sys/sdt.h>

namespace platform {

// USDT probes are notes in the file, found by the tools that attach to them.
void Probes::Register() noexcept {}

void Probes::Unregister() noexcept {}

bool Probes::IsRegistered() noexcept { return false; }

void Probes::QueueFull(std::uint64_t eventsCounted) noexcept {
  DTRACE_PROBE1(edr_telemetry, queue_full, eventsCounted);
}

void Probes::PassBegin(const void* client) noexcept {
  DTRACE_PROBE1(edr_telemetry, pass_begin, client);
}

void Probes::PassEnd(const void* client) noexcept {
  DTRACE_PROBE1(edr_telemetry, pass_end, client);
}

}  // namespace platform
