#pragma once

#include <cstdint>
#include <mutex>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_queue.h"

namespace sendara::edr_telemetry::telemetry {

// The queue holds at most limit + 1 events: the bound is applied before each
// append, and every append past it drops the oldest events. Texts are
// copied into shared blocks in the order they come (EventTextBlock).
class TelemetryQueueImpl final : public ITelemetryQueue {
 public:
  TelemetryQueueImpl(oru::RefPtr<oru::ITracer> tracer, std::uint64_t limit,
                     base::SensitiveDataTracePolicy policy);
  ~TelemetryQueueImpl() override;
  TelemetryQueueImpl(const TelemetryQueueImpl&) = delete;
  TelemetryQueueImpl& operator=(const TelemetryQueueImpl&) = delete;

  void PushBack(std::u16string_view text) override;
  void PushFront(Records::iterator first, Records::iterator last) override;
  void PushFront(const TelemetryEventRecord* first, const TelemetryEventRecord* last) override;
  void PushFront(Records records) override;
  Records PopFront(std::uint64_t count) override;
  void PushBackUtf8(std::string_view text) override;

 private:
  template <class Iterator>
  void PushFrontRange(Iterator first, Iterator last);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::uint64_t m_limit;
  std::mutex m_mutex;
  std::uint64_t m_lastId = 0;
  Records m_records;
  // Where the next texts go; the queue holds it once.
  EventTextBlock* m_block = nullptr;
  const base::SensitiveDataTracePolicy m_policy;
};

}  // namespace sendara::edr_telemetry::telemetry
