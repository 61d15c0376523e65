#include "component/sendara/edr_telemetry/source/client/request_sender/to_syslog_server.h"

#include <string>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::edr_telemetry {
namespace {

bool IsPort(std::string_view port) noexcept {
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

syslog::SyslogServer ToSyslogServer(std::string_view address) {
  const auto colon = address.rfind(':');
  std::string_view host;
  std::string_view port;
  if (colon != std::string_view::npos) {
    host = address.substr(0, colon);
    port = address.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || !IsPort(port)) {
    SENDARA_THROW(base::sendara_exception, oru::rc::InvalidArgument, "wrong endpoint address " + std::string(address));
  }
  return syslog::SyslogServer{std::string(host), std::string(port)};
}

}  // namespace sendara::edr_telemetry
