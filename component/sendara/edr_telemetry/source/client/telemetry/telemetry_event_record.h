#pragma once

#include <cstdint>
#include <string_view>

#include "component/sendara/edr_telemetry/source/client/telemetry/event_text_block.h"

namespace sendara::edr_telemetry::telemetry {

// One queued event: the identifier the queue gave it and its JSON text
// (UTF-8), which sits in a block shared with the events queued around it.
// Copies share the text; the text lives as long as any of them.
class TelemetryEventRecord {
 public:
  TelemetryEventRecord() = default;
  // A record whose text is in `block` at `offset`; holds the block once more.
  TelemetryEventRecord(std::uint64_t id, EventTextBlock& block, std::uint32_t offset, std::uint32_t size) noexcept;
  // A record with a block of its own.
  TelemetryEventRecord(std::uint64_t id, std::string_view text);

  TelemetryEventRecord(const TelemetryEventRecord& other) noexcept;
  TelemetryEventRecord(TelemetryEventRecord&& other) noexcept;
  TelemetryEventRecord& operator=(TelemetryEventRecord other) noexcept;
  ~TelemetryEventRecord();

  // Counts from 1 in each queue; not persisted.
  std::uint64_t Id() const noexcept { return m_id; }
  std::string_view Text() const noexcept { return m_block ? m_block->Text(m_offset, m_size) : std::string_view(); }

 private:
  std::uint64_t m_id = 0;
  EventTextBlock* m_block = nullptr;
  std::uint32_t m_offset = 0;
  std::uint32_t m_size = 0;
};

}  // namespace sendara::edr_telemetry::telemetry
