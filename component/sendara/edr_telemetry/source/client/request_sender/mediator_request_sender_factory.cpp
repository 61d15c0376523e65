#include "component/sendara/edr_telemetry/source/client/request_sender/mediator_request_sender_factory.h"

#include <utility>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/mediator_request_sender.h"

namespace sendara::edr_telemetry {

MediatorRequestSenderFactory::MediatorRequestSenderFactory(
    oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
    std::shared_ptr<IConnectionEventHandler> eventHandler,
    std::shared_ptr<syslog::SyslogClientFactoryImpl> syslogClientFactory,
    std::shared_ptr<IRequestSenderStringFactory> requestSenderFactory, oru::RefPtr<oru::IObject> furtherClientService)
    : m_tracer(std::move(tracer)),
      m_settingsProvider(std::move(settingsProvider)),
      m_eventHandler(std::move(eventHandler)),
      m_syslogClientFactory(std::move(syslogClientFactory)),
      m_requestSenderFactory(std::move(requestSenderFactory)),
      m_furtherClientService(std::move(furtherClientService)) {
  SENDARA_CONTRACT(m_settingsProvider && m_eventHandler && m_syslogClientFactory && m_requestSenderFactory,
                   "sender factory parts");
}

std::shared_ptr<IRequestSender> MediatorRequestSenderFactory::Create() const {
  return std::make_shared<MediatorRequestSender>(m_tracer, m_settingsProvider, m_eventHandler, m_syslogClientFactory,
                                                 m_requestSenderFactory);
}

}  // namespace sendara::edr_telemetry
