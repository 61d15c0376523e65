#pragma once

#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_endpoint_sender_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender_string_factory.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"

namespace sendara::edr_telemetry {

// HttpRequestSender for HTTP and HTTP_COMPRESSED (compressing for the
// latter), SyslogRequestSender for TCP, TCP_TLS and UDP.
class EndpointSenderFactory final : public IEndpointSenderFactory {
 public:
  EndpointSenderFactory(oru::RefPtr<oru::ITracer> tracer,
                        std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                        std::shared_ptr<syslog::SyslogClientFactoryImpl> syslogClientFactory,
                        std::shared_ptr<IRequestSenderStringFactory> requestSenderFactory);

  std::shared_ptr<IRequestSender> CreateSender(const EdrTelemetryEndpoint& endpoint) override;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_settingsProvider;
  const std::shared_ptr<syslog::SyslogClientFactoryImpl> m_syslogClientFactory;
  const std::shared_ptr<IRequestSenderStringFactory> m_requestSenderFactory;
};

}  // namespace sendara::edr_telemetry
