// What an event costs on its way into the queue, and what the queue holds
// per event beyond the event's own text.
#include <malloc.h>

#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/telemetry/telemetry_throttler_v1.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_throttler_settings_source.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_handler_impl.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_queue_impl.h"
#include "sample_event.h"

namespace {

using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::telemetry;

const std::u16string kEvent16 = sendara::base::ToUtf16(bench::kEvent);

EdrTelemetryClientSettings Settings(bool restrictFields) {
  EdrTelemetryClientSettings settings;
  settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:514"});
  if (restrictFields) {
    settings.allowedEventFields =
        std::vector<std::string>{"eventType", "throttlingId", "timestamp", "process", "parent", "ioas"};
  }
  return settings;
}

// One handler per configuration, shared by the benchmark's threads.
struct Intake {
  explicit Intake(bool restrictFields)
      : provider(std::make_shared<EdrTelemetryClientSettingsProvider>(nullptr, Settings(restrictFields))),
        queue(std::make_shared<TelemetryQueueImpl>(nullptr, 200000, sendara::base::SensitiveDataTracePolicy())),
        handler(nullptr, {}, queue, provider) {}
  std::shared_ptr<EdrTelemetryClientSettingsProvider> provider;
  std::shared_ptr<TelemetryQueueImpl> queue;
  TelemetryHandlerImpl handler;
};

void BM_SendTelemetry(benchmark::State& state) {
  static Intake unrestricted(false);
  static Intake restricted(true);
  Intake& intake = state.range(0) ? restricted : unrestricted;
  for (auto _ : state) {
    intake.handler.SendTelemetry(kEvent16);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) intake.queue->PopFront(0);
}
BENCHMARK(BM_SendTelemetry)->ArgName("allowedEventFields")->Arg(0)->Arg(1)->Threads(1)->Threads(2)->UseRealTime();

void BM_QueuePackage(benchmark::State& state) {
  TelemetryQueueImpl queue(nullptr, 200000, {});
  for (auto _ : state) {
    for (int i = 0; i < 1024; ++i) queue.PushBack(kEvent16);
    benchmark::DoNotOptimize(queue.PopFront(0));
  }
  state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_QueuePackage);

void BM_IsThrottled(benchmark::State& state) {
  auto provider = std::make_shared<EdrTelemetryClientSettingsProvider>(nullptr, Settings(false));
  sendara::base::telemetry::TelemetryThrottlerV1 throttler(
      nullptr, std::make_shared<EdrTelemetryThrottlerSettingsSource>(provider));
  std::uint32_t id = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(throttler.IsThrottled(++id % 40, true));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsThrottled);

// Heap bytes the queue holds per event beyond the UTF-8 text, with the
// queue at its settled size (limit + 1 events).
void BM_QueueMemoryPerEvent(benchmark::State& state) {
  constexpr std::size_t kEvents = 200001;
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    {
      TelemetryQueueImpl queue(nullptr, 200000, {});
      for (std::size_t i = 0; i < kEvents + 5; ++i) queue.PushBack(kEvent16);
      const std::size_t held = mallinfo2().uordblks - before;
      state.counters["bytes_per_event_beyond_text"] =
          static_cast<double>(held - kEvents * bench::kEvent.size()) / kEvents;
      state.counters["text_bytes"] = static_cast<double>(bench::kEvent.size());
    }
  }
}
BENCHMARK(BM_QueueMemoryPerEvent)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
