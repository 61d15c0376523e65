#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_client_factory.h"

namespace sendara::edr_telemetry::telemetry {

TelemetryClientFactory::TelemetryClientFactory(oru::RefPtr<oru::ITracer> tracer,
                                               std::shared_ptr<base::storages::PartitionedValueStorage> storage,
                                               std::shared_ptr<ITelemetryQueue> queue,
                                               std::shared_ptr<ITelemetryHandler> handler,
                                               std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                                               RequestSenderMaker requestSenderMaker,
                                               std::shared_ptr<DeliveryCounters> counters)
    : m_tracer(std::move(tracer)),
      m_storage(std::move(storage)),
      m_queue(std::move(queue)),
      m_handler(std::move(handler)),
      m_settingsProvider(std::move(settingsProvider)),
      m_requestSenderMaker(std::move(requestSenderMaker)),
      m_counters(counters ? std::move(counters) : std::make_shared<DeliveryCounters>()) {}

std::shared_ptr<TelemetryClient> TelemetryClientFactory::Create(bool online) {
  std::shared_ptr<IRequestSender> sender;
  if (online && m_requestSenderMaker) sender = m_requestSenderMaker();
  return std::make_shared<TelemetryClient>(m_tracer, std::move(sender), m_storage, m_queue, m_handler,
                                           m_settingsProvider, m_storageFailing, m_counters);
}

}  // namespace sendara::edr_telemetry::telemetry
