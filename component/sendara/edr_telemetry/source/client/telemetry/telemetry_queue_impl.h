#pragma once

#include <cstdint>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/delivery_counters.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_queue.h"

namespace sendara::edr_telemetry::telemetry {

// The queue holds at most limit + 1 events: the bound is applied before each
// append, and every append past it drops the oldest events. Texts are
// copied into shared blocks in the order they come (EventTextBlock). The
// events dropped by the bound, and those it still holds when it goes, are
// counted as lost.
class TelemetryQueueImpl final : public ITelemetryQueue {
 public:
  TelemetryQueueImpl(oru::RefPtr<oru::ITracer> tracer, std::uint64_t limit,
                     base::SensitiveDataTracePolicy policy, std::shared_ptr<DeliveryCounters> counters = nullptr);
  ~TelemetryQueueImpl() override;
  TelemetryQueueImpl(const TelemetryQueueImpl&) = delete;
  TelemetryQueueImpl& operator=(const TelemetryQueueImpl&) = delete;

  void PushBack(std::u16string_view text) override EXCLUDES(m_mutex);
  void PushFront(Records::iterator first, Records::iterator last) override EXCLUDES(m_mutex);
  void PushFront(const TelemetryEventRecord* first, const TelemetryEventRecord* last) override EXCLUDES(m_mutex);
  void PushFront(Records records) override EXCLUDES(m_mutex);
  Records PopFront(std::uint64_t count) override EXCLUDES(m_mutex);
  void PushBackUtf8(std::string_view text) override EXCLUDES(m_mutex);
  std::uint64_t Size() override EXCLUDES(m_mutex);

 private:
  template <class Iterator>
  void PushFrontRange(Iterator first, Iterator last) EXCLUDES(m_mutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::uint64_t m_limit;
  platform::Mutex m_mutex;
  std::uint64_t m_lastId GUARDED_BY(m_mutex) = 0;
  Records m_records GUARDED_BY(m_mutex);
  // Where the next texts go; the queue holds it once. Texts are appended
  // to it under the lock only.
  EventTextBlock* m_block GUARDED_BY(m_mutex) PT_GUARDED_BY(m_mutex) = nullptr;
  const base::SensitiveDataTracePolicy m_policy;
  const std::shared_ptr<DeliveryCounters> m_counters;
};

}  // namespace sendara::edr_telemetry::telemetry
