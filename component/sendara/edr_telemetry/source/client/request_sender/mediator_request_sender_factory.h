#pragma once

#include <memory>

#include "component/oru/i_object.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_connection_event_handler.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender_string_factory.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"

namespace sendara::edr_telemetry {

// Makes the request sender of each online cycle: a new mediator over the
// configured endpoints, so that every cycle starts its handshake afresh with
// the settings of the moment.
class MediatorRequestSenderFactory {
 public:
  MediatorRequestSenderFactory(oru::RefPtr<oru::ITracer> tracer,
                               std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                               std::shared_ptr<IConnectionEventHandler> eventHandler,
                               std::shared_ptr<syslog::SyslogClientFactoryImpl> syslogClientFactory,
                               std::shared_ptr<IRequestSenderStringFactory> requestSenderFactory,
                               oru::RefPtr<oru::IObject> furtherClientService);

  std::shared_ptr<IRequestSender> Create() const;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_settingsProvider;
  const std::shared_ptr<IConnectionEventHandler> m_eventHandler;
  const std::shared_ptr<syslog::SyslogClientFactoryImpl> m_syslogClientFactory;
  const std::shared_ptr<IRequestSenderStringFactory> m_requestSenderFactory;
  // The host's optional service for the senders, held for as long as they
  // may be made; none of the senders here asks it for anything yet.
  const oru::RefPtr<oru::IObject> m_furtherClientService;
};

}  // namespace sendara::edr_telemetry
