#pragma once

#include <string>
#include <string_view>

namespace sendara::edr_telemetry {

// The url of an HTTP endpoint: the address as it is when it begins with
// "https://" or "http://" (exact case), otherwise "https://" + the address,
// so that a bare host never sends telemetry in the clear.
std::string AddDefaultScheme(std::string_view address);

}  // namespace sendara::edr_telemetry
