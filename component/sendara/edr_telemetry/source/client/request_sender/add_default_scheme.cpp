#include "component/sendara/edr_telemetry/source/client/request_sender/add_default_scheme.h"

namespace sendara::edr_telemetry {

std::string AddDefaultScheme(std::string_view address) {
  if (address.starts_with("https://") || address.starts_with("http://")) return std::string(address);
  std::string url;
  url.reserve(8 + address.size());
  url += "https://";
  url += address;
  return url;
}

}  // namespace sendara::edr_telemetry
