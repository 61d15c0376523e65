#include "component/sendara/edr_telemetry/source/client/telemetry/event_text_block.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace sendara::edr_telemetry::telemetry {

EventTextBlock* EventTextBlock::Create(std::size_t capacity) {
  // Offsets and sizes are 32-bit, which keeps a record small; a line of
  // input is cut far below that.
  if (capacity > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("event text too long");
  void* memory = ::operator new(sizeof(EventTextBlock) + capacity);
  return new (memory) EventTextBlock(static_cast<std::uint32_t>(capacity));
}

void EventTextBlock::Release() noexcept {
  if (m_references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  this->~EventTextBlock();
  ::operator delete(static_cast<void*>(this));
}

std::uint32_t EventTextBlock::Append(std::string_view text) noexcept {
  const std::uint32_t offset = m_used;
  std::memcpy(Bytes() + offset, text.data(), text.size());
  m_used += static_cast<std::uint32_t>(text.size());
  return offset;
}

}  // namespace sendara::edr_telemetry::telemetry
