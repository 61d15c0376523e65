#include "component/sendara/edr_telemetry/source/client/telemetry/delivery_counters.h"

namespace sendara::edr_telemetry::telemetry {

void DeliveryCounters::WatchSpoolLosses(std::shared_ptr<const std::atomic<std::uint64_t>> spoolLost) {
  m_spoolLostBefore = spoolLost ? spoolLost->load() : 0;
  m_spoolLost = std::move(spoolLost);
}

task::EdrTelemetryDeliveryCounts DeliveryCounters::Read() const {
  task::EdrTelemetryDeliveryCounts counts;
  counts.delivered = delivered;
  counts.emptiedByFieldRules = emptiedByFieldRules;
  counts.lostToQueueLimit = lostToQueueLimit;
  counts.refusedByEndpoint = refusedByEndpoint;
  counts.lostUnspooled = lostUnspooled;
  counts.lostInSpool = m_spoolLost ? m_spoolLost->load() - m_spoolLostBefore : 0;
  counts.spoolFailures = spoolFailures;
  return counts;
}

}  // namespace sendara::edr_telemetry::telemetry
