#pragma once

#include <cstdint>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_endpoint.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/i_syslog_client.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_protocol.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_server.h"

namespace sendara::edr_telemetry {

// Delivers packages to one syslog endpoint: over UDP one datagram per event,
// over TCP and TLS one write per package, each event followed by a line feed.
class SyslogRequestSender final : public IRequestSender {
 public:
  // Raises "wrong endpoint address ", "could convert edr_telemetry protocol"
  // and "Can't create syslog client" (with the factory's result code).
  SyslogRequestSender(oru::RefPtr<oru::ITracer> tracer, const EdrTelemetryEndpoint& endpoint,
                      std::shared_ptr<syslog::SyslogClientFactoryImpl> clientFactory,
                      const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& settingsProvider);

  // A failure while the stop token is set is raised as stop_exception (the
  // failure nested): the stop closed the connections, so it is no fault of
  // the endpoint. Otherwise connection_exception, with the reason and
  // "server_address" = host:port.
  void Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) override;
  void WaitAndCloseConnections() override;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  oru::RefPtr<syslog::ISyslogClient> m_client;
  const syslog::SyslogServer m_server;
  syslog::SyslogProtocol m_protocol = syslog::SyslogProtocol::Tcp;
};

}  // namespace sendara::edr_telemetry
