#pragma once

#include <cstdint>

namespace sendara::edr_telemetry::task {

// What became of the events a task was handed, since it was made. Together
// with what its spool held before and holds after, it accounts for every
// event: in the spool before + handed over = delivered + emptied + lost + in
// the spool after.
struct EdrTelemetryDeliveryCounts {
  // Counted by an endpoint's sender as handed over to it, from the queue or
  // from the spool.
  std::uint64_t delivered = 0;
  // Left with no field by the field rules, and so not sent: as configured.
  std::uint64_t emptiedByFieldRules = 0;
  // Lost: dropped from the front of a full memory queue; refused by an
  // endpoint as a bad request (never to be taken); in the queue at the end,
  // the spool refusing them; spooled and then lost there (damaged rows, or
  // the oldest partitions removed to keep the spool within its bounds).
  std::uint64_t lostToQueueLimit = 0;
  std::uint64_t refusedByEndpoint = 0;
  std::uint64_t lostUnspooled = 0;
  std::uint64_t lostInSpool = 0;
  // Times the spool refused to take events or to give them back. Each one
  // leaves the events where they were (the memory queue or the spool); they
  // are lost only if they are counted above.
  std::uint64_t spoolFailures = 0;

  std::uint64_t Lost() const { return lostToQueueLimit + refusedByEndpoint + lostUnspooled + lostInSpool; }

  EdrTelemetryDeliveryCounts& operator+=(const EdrTelemetryDeliveryCounts& other) {
    delivered += other.delivered;
    emptiedByFieldRules += other.emptiedByFieldRules;
    lostToQueueLimit += other.lostToQueueLimit;
    refusedByEndpoint += other.refusedByEndpoint;
    lostUnspooled += other.lostUnspooled;
    lostInSpool += other.lostInSpool;
    spoolFailures += other.spoolFailures;
    return *this;
  }
};

}  // namespace sendara::edr_telemetry::task
