#pragma once

#include "component/sendara/edr_telemetry/source/client/edr_telemetry_protocol.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_protocol.h"

namespace sendara::edr_telemetry {

// The syslog protocol of a syslog endpoint: TCP, TCP_TLS or UDP. Raises
// sendara_exception (InvalidArgument) "could convert edr_telemetry protocol"
// for the HTTP protocols and unknown values.
syslog::SyslogProtocol Convert(EdrTelemetryProtocol protocol);

}  // namespace sendara::edr_telemetry
