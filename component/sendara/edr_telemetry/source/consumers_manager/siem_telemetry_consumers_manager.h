#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/provided_event_source.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_changed_event.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h"

namespace sendara::edr_telemetry {

// The registry of telemetry consumers by consumer id: consumers add and
// remove themselves, the host's producer asks them what to send and hands
// them events, and listeners hear of every change.
//
// The consumers are a copy-on-write map: a change builds a new map and swaps
// the pointer under the mutex; every other operation copies the pointer under
// it and works on that snapshot unlocked. So a consumer is always called with
// no lock of the manager held and may call the manager back, and a replaced
// or removed consumer (whose destructor may stop a whole client) is released
// outside the mutex.
class SiemTelemetryConsumersManager final
    : public oru::BasicObject<SiemTelemetryConsumersManager, oru::ModuleObjectCounter, ISiemTelemetryConsumersProvider,
                              ISiemTelemetryConsumersManager,
                              oru::ProvidedEventSource<ISiemTelemetryConsumersChangedEventSource>> {
 public:
  // Raises GetInterfaceException when `locator` has no tracer.
  explicit SiemTelemetryConsumersManager(oru::IServiceLocator* locator);

  // ISiemTelemetryConsumersProvider. Unknown consumer ids answer NotFound.
  oru::Result GetSiemTelemetryConsumers(std::vector<std::uint64_t>& consumerIds) noexcept override;
  // Every consumer's own result is ignored.
  oru::Result SetAllEventTypesDefaultSettings(const std::vector<EventTypeSetting>& settings) noexcept override;
  // Fails as a whole when a consumer does not know its event types yet;
  // leaves out a consumer that fails otherwise.
  oru::Result GetAllEventTypesSettings(std::vector<ConsumerEventTypeSettings>& settings) noexcept override;
  oru::Result GetIncludeRules(std::uint64_t consumerId, std::u16string& rules) noexcept override;
  oru::Result SendEvent(std::uint64_t consumerId, const char16_t* event) noexcept override;
  // An event is dropped unless a consumer wants it; every consumer is asked.
  oru::Result ShouldEventBeDropped(std::uint32_t throttlingId, const char16_t* eventType,
                                   bool* shouldBeDropped) noexcept override;
  oru::Result ShouldEventOrIoaBeDropped(std::uint64_t consumerId, std::uint32_t throttlingId, const char16_t* eventType,
                                        const char16_t* event, std::vector<Ioa>& ioas,
                                        bool* shouldBeDropped) noexcept override;

  // ISiemTelemetryConsumersManager. A consumer replaces the one registered
  // under the same id; removal removes only the very object registered.
  // Listeners are told after either, even when nothing was removed.
  oru::Result AddTelemetryConsumer(ISiemTelemetryConsumer* consumer) noexcept override;
  oru::Result RemoveTelemetryConsumer(ISiemTelemetryConsumer* consumer) noexcept override;
  oru::Result SendConsumerChanged() noexcept override;


 private:
  using Consumers = std::map<std::uint64_t, oru::RefPtr<ISiemTelemetryConsumer>>;

  ~SiemTelemetryConsumersManager() override = default;

  std::shared_ptr<const Consumers> Snapshot() const EXCLUDES(m_mutex);
  // Raises not_found_exception for an id that is not registered.
  static oru::RefPtr<ISiemTelemetryConsumer> Find(const Consumers& consumers, std::uint64_t consumerId);
  // The event text, or the policy's stand-in when texts may not be traced.
  std::string EventTraceText(const char16_t* event) const;
  void NotifyConsumersChanged() noexcept;

  const oru::RefPtr<oru::IServiceLocator> m_locator;
  const oru::RefPtr<oru::ITracer> m_tracer;
  const base::SensitiveDataTracePolicy m_sensitiveDataPolicy;
  // Held only to copy or swap the pointer; nothing is called under it.
  mutable platform::Mutex m_mutex;
  // Never changed in place.
  std::shared_ptr<const Consumers> m_consumers GUARDED_BY(m_mutex);
};

}  // namespace sendara::edr_telemetry
