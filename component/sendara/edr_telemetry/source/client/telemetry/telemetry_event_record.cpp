#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_event_record.h"

#include <utility>

namespace sendara::edr_telemetry::telemetry {

TelemetryEventRecord::TelemetryEventRecord(std::uint64_t id, EventTextBlock& block, std::uint32_t offset,
                                           std::uint32_t size) noexcept
    : m_id(id), m_block(&block), m_offset(offset), m_size(size) {
  block.AddRef();
}

TelemetryEventRecord::TelemetryEventRecord(std::uint64_t id, std::string_view text)
    : m_id(id), m_block(EventTextBlock::Create(text.size())), m_size(static_cast<std::uint32_t>(text.size())) {
  m_offset = m_block->Append(text);
}

TelemetryEventRecord::TelemetryEventRecord(const TelemetryEventRecord& other) noexcept
    : m_id(other.m_id), m_block(other.m_block), m_offset(other.m_offset), m_size(other.m_size) {
  if (m_block) m_block->AddRef();
}

TelemetryEventRecord::TelemetryEventRecord(TelemetryEventRecord&& other) noexcept
    : m_id(other.m_id),
      m_block(std::exchange(other.m_block, nullptr)),
      m_offset(other.m_offset),
      m_size(std::exchange(other.m_size, 0)) {}

TelemetryEventRecord& TelemetryEventRecord::operator=(TelemetryEventRecord other) noexcept {
  std::swap(m_id, other.m_id);
  std::swap(m_block, other.m_block);
  std::swap(m_offset, other.m_offset);
  std::swap(m_size, other.m_size);
  return *this;
}

TelemetryEventRecord::~TelemetryEventRecord() {
  if (m_block) m_block->Release();
}

}  // namespace sendara::edr_telemetry::telemetry
