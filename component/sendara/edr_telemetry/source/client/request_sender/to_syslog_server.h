#pragma once

#include <string_view>

#include "component/sendara/syslog/source/syslog_connection/syslog_server.h"

namespace sendara::edr_telemetry {

// Host and port of a syslog endpoint text "host:port", split at the last
// colon, so that "[::1]:514" gives the host "::1" (the brackets only guard
// the colons of an IPv6 address). Raises sendara_exception (InvalidArgument)
// "wrong endpoint address " + the address when host or port is missing or
// the port is not a decimal number from 1 to 65535: such a text can never
// be connected to, and saying so here names the setting at fault.
syslog::SyslogServer ToSyslogServer(std::string_view address);

}  // namespace sendara::edr_telemetry
