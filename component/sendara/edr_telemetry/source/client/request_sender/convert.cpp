#include "component/sendara/edr_telemetry/source/client/request_sender/convert.h"

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::edr_telemetry {

syslog::SyslogProtocol Convert(EdrTelemetryProtocol protocol) {
  switch (protocol) {
    case EdrTelemetryProtocol::TCP:
      return syslog::SyslogProtocol::Tcp;
    case EdrTelemetryProtocol::UDP:
      return syslog::SyslogProtocol::Udp;
    case EdrTelemetryProtocol::TCP_TLS:
      return syslog::SyslogProtocol::EncryptedTcp;
    default:
      break;
  }
  SENDARA_THROW(base::sendara_exception, oru::rc::InvalidArgument, "could convert edr_telemetry protocol");
}

}  // namespace sendara::edr_telemetry
