#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "component/sendara/edr_telemetry/source/task/edr_telemetry_delivery_counts.h"

namespace sendara::edr_telemetry::telemetry {

// One client's account of its events, counted where they leave it: the
// sending loop (delivered, refused), the field rules, the queue (its bound,
// what it holds when the client ends) and the spool. Shared by the parts of
// the client and by the task, which reads it after the client is gone.
class DeliveryCounters {
 public:
  std::atomic<std::uint64_t> delivered{0};
  std::atomic<std::uint64_t> emptiedByFieldRules{0};
  std::atomic<std::uint64_t> lostToQueueLimit{0};
  std::atomic<std::uint64_t> refusedByEndpoint{0};
  std::atomic<std::uint64_t> lostUnspooled{0};
  std::atomic<std::uint64_t> spoolFailures{0};

  // The spool counts its own lost rows, for every client on its folder: this
  // client's share is what it counted from now on.
  void WatchSpoolLosses(std::shared_ptr<const std::atomic<std::uint64_t>> spoolLost);

  task::EdrTelemetryDeliveryCounts Read() const;

 private:
  std::shared_ptr<const std::atomic<std::uint64_t>> m_spoolLost;
  std::uint64_t m_spoolLostBefore = 0;
};

}  // namespace sendara::edr_telemetry::telemetry
