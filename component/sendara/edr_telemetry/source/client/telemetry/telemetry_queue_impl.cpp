#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_queue_impl.h"

#include <iterator>
#include <string>

#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/utf_convert.h"

namespace sendara::edr_telemetry::telemetry {

using base::TraceLevel;

TelemetryQueueImpl::TelemetryQueueImpl(oru::RefPtr<oru::ITracer> tracer, std::uint64_t limit,
                                       base::SensitiveDataTracePolicy policy,
                                       std::shared_ptr<DeliveryCounters> counters)
    : m_tracer(std::move(tracer)), m_limit(limit), m_policy(std::move(policy)), m_counters(std::move(counters)) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "limit count = " << m_limit);
}

TelemetryQueueImpl::~TelemetryQueueImpl() {
  // No lock: nobody else holds the queue now.
  const std::uint64_t left = m_records.size();
  if (left > 0) {
    SENDARA_TRACE(m_tracer, TraceLevel::kError, left << " events lost: still queued when the client ended");
    if (m_counters) m_counters->lostUnspooled += left;
  }
  m_records.clear();
  if (m_block) m_block->Release();
}

void TelemetryQueueImpl::PushBack(std::u16string_view text) {
  // Converted before the lock: the event threads and the sending loop share
  // it. The text is copied into a block, so its string may have room to spare.
  std::string utf8;
  base::ToUtf8(text, utf8);
  PushBackUtf8(utf8);
}

void TelemetryQueueImpl::PushBackUtf8(std::string_view text) {
  platform::MutexLock lock(&m_mutex);
  const std::uint64_t size = m_records.size();
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                "size queue = " << size << "; event id = " << m_lastId + 1
                                << "; data = " << m_policy.Reveal(text));
  if (size > m_limit) {
    const std::uint64_t diff = size - m_limit;
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "queue limit reached, remove events from front: diff = " << diff << "; " << size << ":"
                                                                            << m_limit);
    for (std::uint64_t i = 0; i < diff; ++i) {
      SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "remove event: event id = " << m_records.front().Id());
      m_records.pop_front();
    }
    if (m_counters) m_counters->lostToQueueLimit += diff;
  }
  if (text.size() > EventTextBlock::kDefaultCapacity) {
    // A block of its own; the current block keeps its room for the next texts.
    m_records.emplace_back(m_lastId + 1, text);
  } else {
    if (!m_block || m_block->Room() < text.size()) {
      // The room left in the old block, less than one event, stays unused.
      EventTextBlock* fresh = EventTextBlock::Create(EventTextBlock::kDefaultCapacity);
      if (m_block) m_block->Release();
      m_block = fresh;
    }
    const std::uint32_t offset = m_block->Append(text);
    m_records.emplace_back(m_lastId + 1, *m_block, offset, static_cast<std::uint32_t>(text.size()));
  }
  ++m_lastId;
}

template <class Iterator>
void TelemetryQueueImpl::PushFrontRange(Iterator first, Iterator last) {
  if (first == last) return;
  platform::MutexLock lock(&m_mutex);
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                "size queue = " << m_records.size() << "; size of the pushed = " << std::distance(first, last)
                                << "; event ids = " << first->Id() << ", " << std::prev(last)->Id());
  m_records.insert(m_records.begin(), std::make_move_iterator(first), std::make_move_iterator(last));
}

void TelemetryQueueImpl::PushFront(Records::iterator first, Records::iterator last) {
  PushFrontRange(first, last);
}

void TelemetryQueueImpl::PushFront(const TelemetryEventRecord* first, const TelemetryEventRecord* last) {
  PushFrontRange(first, last);
}

void TelemetryQueueImpl::PushFront(Records records) {
  if (records.empty()) return;
  platform::MutexLock lock(&m_mutex);
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                "size queue = " << m_records.size() << "; size of the pushed = " << records.size()
                                << "; event ids = " << records.front().Id() << ", " << records.back().Id());
  // Whichever side is shorter moves.
  if (records.size() < m_records.size()) {
    m_records.insert(m_records.begin(), std::make_move_iterator(records.begin()),
                     std::make_move_iterator(records.end()));
    return;
  }
  records.insert(records.end(), std::make_move_iterator(m_records.begin()), std::make_move_iterator(m_records.end()));
  m_records.swap(records);
}

std::uint64_t TelemetryQueueImpl::Size() {
  platform::MutexLock lock(&m_mutex);
  return m_records.size();
}

ITelemetryQueue::Records TelemetryQueueImpl::PopFront(std::uint64_t count) {
  Records popped;
  platform::MutexLock lock(&m_mutex);
  if (count == 0 || count >= m_records.size()) {
    popped.swap(m_records);
    return popped;
  }
  const auto end = m_records.begin() + static_cast<std::ptrdiff_t>(count);
  popped.assign(std::make_move_iterator(m_records.begin()), std::make_move_iterator(end));
  m_records.erase(m_records.begin(), end);
  return popped;
}

}  // namespace sendara::edr_telemetry::telemetry
