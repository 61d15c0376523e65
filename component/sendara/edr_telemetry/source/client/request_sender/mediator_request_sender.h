#pragma once

#include <cstdint>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_endpoint.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_connection_event_handler.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_endpoint_sender_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender_string_factory.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"

namespace sendara::edr_telemetry {

// Picks the endpoint: until one has taken a package, every package is
// offered to the configured endpoints in order (the handshake), and the
// first that takes it (or answers that it refuses this package) gets every
// later package for the mediator's lifetime.
class MediatorRequestSender final : public IRequestSender {
 public:
  // Raises sendara_exception "no endpoints" when the settings hold none.
  MediatorRequestSender(oru::RefPtr<oru::ITracer> tracer,
                        std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                        std::shared_ptr<IConnectionEventHandler> eventHandler,
                        std::shared_ptr<syslog::SyslogClientFactoryImpl> syslogClientFactory,
                        std::shared_ptr<IRequestSenderStringFactory> requestSenderFactory);
  // With the endpoint senders made by `senderFactory`.
  MediatorRequestSender(oru::RefPtr<oru::ITracer> tracer,
                        std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                        std::shared_ptr<IConnectionEventHandler> eventHandler,
                        std::shared_ptr<IEndpointSenderFactory> senderFactory);

  // Besides what the chosen sender raises: connection_exception "not
  // available endpoints" (reason 0, the last endpoint's failure nested and
  // its address as "server_address") when no endpoint took the package, so
  // that the caller keeps it; stop_exception as soon as a stop shows, with
  // no further endpoint tried.
  void Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) override;
  void WaitAndCloseConnections() override;

 private:
  std::shared_ptr<IRequestSender> Handshake(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken);
  // Connected for the current endpoint; for UDP, which cannot tell, a trace only.
  void ReportConnected();
  // A connection_exception is reported before it goes on, unless a stop
  // caused it.
  void SendThrough(IRequestSender& sender, Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_settingsProvider;
  const std::shared_ptr<IConnectionEventHandler> m_eventHandler;
  const std::shared_ptr<IEndpointSenderFactory> m_senderFactory;
  std::shared_ptr<IRequestSender> m_currentSender;
  // The current sender's endpoint; HTTP addresses with their scheme.
  EdrTelemetryEndpoint m_currentEndpoint;
};

}  // namespace sendara::edr_telemetry
