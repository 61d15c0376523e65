#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string_view>

#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_event_record.h"

namespace sendara::edr_telemetry::telemetry {

// The bounded in-memory FIFO of events waiting to be sent.
class ITelemetryQueue {
 public:
  using Records = std::deque<TelemetryEventRecord>;

  virtual ~ITelemetryQueue() = default;
  // Appends one event given as UTF-16 text, with the next identifier. Never
  // refuses: a full queue drops its oldest events instead.
  virtual void PushBack(std::u16string_view text) = 0;
  // Puts records back at the front, in their order and with their
  // identifiers; no limit applies.
  virtual void PushFront(Records::iterator first, Records::iterator last) = 0;
  virtual void PushFront(const TelemetryEventRecord* first, const TelemetryEventRecord* last) = 0;
  // The same for a whole taken batch: whichever of the batch and the events
  // queued meanwhile is shorter moves, so that neither a full queue nor a
  // batch of one is moved record by record into new storage.
  virtual void PushFront(Records records) = 0;
  // Removes and returns the first `count` records, oldest first; 0 means all.
  virtual Records PopFront(std::uint64_t count) = 0;
  // How many records it holds now.
  virtual std::uint64_t Size() = 0;
  // PushBack for a text already in UTF-8 (an event the handler rewrote).
  virtual void PushBackUtf8(std::string_view text) = 0;
};

}  // namespace sendara::edr_telemetry::telemetry
