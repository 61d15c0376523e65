#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/delivery_counters.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_field_stripper.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_handler.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_queue.h"

namespace sendara::edr_telemetry::telemetry {

// Strips the fields the settings do not allow, queues the event, and every
// package of events signals that a package is ready.
class TelemetryHandlerImpl final : public ITelemetryHandler {
 public:
  TelemetryHandlerImpl(oru::RefPtr<oru::ITracer> tracer, base::SensitiveDataTracePolicy policy,
                       std::shared_ptr<ITelemetryQueue> queue,
                       const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& settingsProvider,
                       std::shared_ptr<DeliveryCounters> counters = nullptr);
  ~TelemetryHandlerImpl() override;

  std::shared_ptr<base::ISubscription> Subscribe(std::string clientName,
                                                 std::function<void()> callback) override;
  void SendTelemetry(std::u16string_view text) override EXCLUDES(m_fieldsMutex, m_counterMutex, m_strippersMutex);
  void SendTelemetryUtf8(std::string_view text) override
      EXCLUDES(m_fieldsMutex, m_counterMutex, m_strippersMutex);

 private:
  using FieldSet = EventFieldStripper::FieldSet;

  void ApplySettings(const EdrTelemetryClientSettings& settings) EXCLUDES(m_fieldsMutex);
  // Queues the event, stripped of disallowed top-level members. False when
  // no member was left: the event is dropped.
  bool QueueRestricted(std::string_view utf8, const FieldSet& allowed) EXCLUDES(m_strippersMutex);
  // Runs the package subscribers under the counter lock: one that sent an
  // event from its callback would wait for itself.
  void CountEvent() EXCLUDES(m_counterMutex);
  // A stripper of its own for the calling thread, kept for the next event:
  // as many as threads strip at once, freed with the handler (a per-thread
  // object would keep the module from being unloaded while host threads
  // live).
  std::unique_ptr<EventFieldStripper> TakeStripper() EXCLUDES(m_strippersMutex);
  void ReturnStripper(std::unique_ptr<EventFieldStripper> stripper) EXCLUDES(m_strippersMutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<ITelemetryQueue> m_queue;
  // Counts the events that the field rules left empty (not sent).
  const std::shared_ptr<DeliveryCounters> m_counters;
  std::atomic<std::int32_t> m_packageSize{1};
  // Read without the lock: an event that races a settings change may see
  // the old state or the new one.
  std::atomic<bool> m_fieldsRestricted{false};
  // A snapshot taken under the lock is used outside it, so that stripping
  // on several threads does not serialise on the lock.
  std::shared_ptr<const FieldSet> m_allowedFields GUARDED_BY(m_fieldsMutex);
  platform::Mutex m_fieldsMutex;
  platform::Mutex m_counterMutex;
  std::int32_t m_counter GUARDED_BY(m_counterMutex) = 0;
  platform::Mutex m_strippersMutex;
  std::vector<std::unique_ptr<EventFieldStripper>> m_strippers GUARDED_BY(m_strippersMutex);
  boost::signals2::signal<void()> m_queueFull;
  const base::SensitiveDataTracePolicy m_policy;
  // Last: dropped first, so that no settings callback meets a half-destroyed
  // handler.
  std::shared_ptr<base::ISubscription> m_settingsSubscription;
};

}  // namespace sendara::edr_telemetry::telemetry
