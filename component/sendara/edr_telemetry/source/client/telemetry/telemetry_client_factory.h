#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/delivery_counters.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_handler.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_queue.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_client.h"

namespace sendara::edr_telemetry::telemetry {

// Builds the sending loop of one cycle from the parts a client shares.
class TelemetryClientFactory {
 public:
  // Makes a fresh request sender for an online cycle; may return null.
  using RequestSenderMaker = std::function<std::shared_ptr<IRequestSender>()>;

  TelemetryClientFactory(oru::RefPtr<oru::ITracer> tracer,
                         std::shared_ptr<base::storages::PartitionedValueStorage> storage,
                         std::shared_ptr<ITelemetryQueue> queue, std::shared_ptr<ITelemetryHandler> handler,
                         std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                         RequestSenderMaker requestSenderMaker,
                         std::shared_ptr<DeliveryCounters> counters = nullptr);
  virtual ~TelemetryClientFactory() = default;

  // Online when asked and a request sender can be made; offline otherwise.
  virtual std::shared_ptr<TelemetryClient> Create(bool online);

  const std::shared_ptr<DeliveryCounters>& Counters() const { return m_counters; }
  const std::shared_ptr<ITelemetryQueue>& Queue() const { return m_queue; }

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<base::storages::PartitionedValueStorage> m_storage;
  const std::shared_ptr<ITelemetryQueue> m_queue;
  const std::shared_ptr<ITelemetryHandler> m_handler;
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_settingsProvider;
  const RequestSenderMaker m_requestSenderMaker;
  const std::shared_ptr<DeliveryCounters> m_counters;
  // Whether stored events cannot be read, across the clients it makes: an
  // outage is reported once, not once per pass or per cycle.
  const std::shared_ptr<std::atomic<bool>> m_storageFailing = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace sendara::edr_telemetry::telemetry
