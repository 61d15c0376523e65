// The POSIX half; probes_windows.cpp is the Windows one.
#if !defined(_WIN32)

#include "component/platform/probes.h"

#include <sys/sdt.h>

namespace platform {

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

#endif  // !defined(_WIN32)
