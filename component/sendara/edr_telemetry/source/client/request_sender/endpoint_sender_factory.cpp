#include "component/sendara/edr_telemetry/source/client/request_sender/endpoint_sender_factory.h"

#include <utility>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/http_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/syslog_request_sender.h"

namespace sendara::edr_telemetry {

EndpointSenderFactory::EndpointSenderFactory(oru::RefPtr<oru::ITracer> tracer,
                                             std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                                             std::shared_ptr<syslog::SyslogClientFactoryImpl> syslogClientFactory,
                                             std::shared_ptr<IRequestSenderStringFactory> requestSenderFactory)
    : m_tracer(std::move(tracer)),
      m_settingsProvider(std::move(settingsProvider)),
      m_syslogClientFactory(std::move(syslogClientFactory)),
      m_requestSenderFactory(std::move(requestSenderFactory)) {}

std::shared_ptr<IRequestSender> EndpointSenderFactory::CreateSender(const EdrTelemetryEndpoint& endpoint) {
  switch (endpoint.protocol) {
    case EdrTelemetryProtocol::HTTP:
    case EdrTelemetryProtocol::HTTP_COMPRESSED:
      return std::make_shared<HttpRequestSender>(m_tracer, endpoint.endpoint,
                                                 endpoint.protocol == EdrTelemetryProtocol::HTTP_COMPRESSED,
                                                 m_requestSenderFactory);
    case EdrTelemetryProtocol::TCP:
    case EdrTelemetryProtocol::TCP_TLS:
    case EdrTelemetryProtocol::UDP:
      return std::make_shared<SyslogRequestSender>(m_tracer, endpoint, m_syslogClientFactory, m_settingsProvider);
    default:
      break;
  }
  SENDARA_THROW(base::sendara_exception, oru::rc::InvalidArgument, "no sender for the endpoint protocol");
}

}  // namespace sendara::edr_telemetry
