#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/provided_event_source.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumer.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/task/consumer_reaction.h"
#include "component/sendara/edr_telemetry/source/task/i_siem_telemetry_decider_event.h"
#include "component/sendara/edr_telemetry/source/task/i_siem_telemetry_exclude_settings_changed_event.h"
#include "component/sendara/edr_telemetry/source/task/i_siem_telemetry_report_event.h"

namespace sendara::edr_telemetry::task {

// The telemetry task's consumer in the consumers manager. Its event types
// are the producer's defaults overridden by the task's user-defined types;
// whenever they change the manager's listeners are told, and the types it
// does not want go to the exclude listeners. Events and drop questions go to
// the report and decider listeners, which the task subscribes.
class TaskSiemTelemetryConsumer final
    : public oru::BasicObject<TaskSiemTelemetryConsumer, oru::ModuleObjectCounter, ISiemTelemetryConsumer,
                              oru::ProvidedEventSource<ISiemTelemetryExcludeSettingsChangedEventSource>,
                              oru::ProvidedEventSource<ISiemTelemetryReportEventSource>,
                              oru::ProvidedEventSource<ISiemTelemetryDeciderEventSource>> {
 public:
  // The three sources' methods, side by side, as overloads by listener.
  using ExcludeSource = oru::ProvidedEventSource<ISiemTelemetryExcludeSettingsChangedEventSource>;
  using ReportSource = oru::ProvidedEventSource<ISiemTelemetryReportEventSource>;
  using DeciderSource = oru::ProvidedEventSource<ISiemTelemetryDeciderEventSource>;
  using ExcludeSource::Subscribe, ExcludeSource::Unsubscribe, ExcludeSource::UnsubscribeAndWait;
  using ReportSource::Subscribe, ReportSource::Unsubscribe, ReportSource::UnsubscribeAndWait;
  using DeciderSource::Subscribe, DeciderSource::Unsubscribe, DeciderSource::UnsubscribeAndWait;

  // Raises GetInterfaceException without a tracer and
  // CheckResultFailedException, with the locator's result, without the
  // consumers manager in `locator`.
  TaskSiemTelemetryConsumer(oru::IServiceLocator* locator, std::uint64_t consumerId);

  // ISiemTelemetryConsumer
  oru::Result GetConsumerId(std::uint64_t* consumerId) noexcept override;
  oru::Result SetAllEventTypesDefaultSettings(const std::vector<EventTypeSetting>& settings) noexcept override;
  // NotInitialized until both the defaults and the user-defined types are known.
  oru::Result GetAllEventTypesSettings(std::vector<EventTypeSetting>& settings) noexcept override;
  oru::Result GetIncludeRules(std::u16string& rules) noexcept override;
  // Hands the event to every report listener; their answers are not kept.
  oru::Result SendEvent(std::u16string_view event) noexcept override;
  // Dropped when a decider listener says so; the first listener that fails
  // fails the question with its result, and the rest are not asked.
  oru::Result ShouldEventBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                   bool* shouldBeDropped) noexcept override;
  oru::Result ShouldEventOrIoaBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                        std::u16string_view event, std::vector<Ioa>& ioas,
                                        bool* shouldBeDropped) noexcept override;

  // The three event sources.

  // The task's event types. With `disableIfNotInEventTypes` a default type
  // the list does not name is not wanted.
  oru::Result SetUserDefinedEventTypes(bool disableIfNotInEventTypes, std::vector<EventTypeSetting> types) noexcept;
  // The task's include rules, of which only the enabled inclusive rules are
  // kept. A text that is not a JSON object (or null) fails and changes nothing.
  oru::Result SetIncludeRules(std::u16string settings) noexcept;

  // `text` with the elements of its "inclusiveRules" array whose "enable" is
  // present and not true (nor null) removed, as compact JSON; `text` itself
  // when it is empty or has no such non-empty array. Raises
  // invalid_json_exception for a text that is neither a JSON object nor null.
  static std::u16string FilterEnabledInclusiveRules(std::u16string_view text);

 private:
  ~TaskSiemTelemetryConsumer() override = default;

  // Recomputes the actual event types from the defaults and the user-defined
  // types.
  ConsumerReaction UpdateActualEventTypes() REQUIRES(m_mutex);
  // Tells the manager's listeners, then the exclude listeners; no lock held
  // on the way in.
  void ApplyOutOfMutexReaction(const ConsumerReaction& reaction) EXCLUDES(m_mutex, m_applyMutex);
  // The excluded types of the current actual types; none before they exist.
  std::optional<std::vector<std::u16string>> CurrentExcludedEventTypes() const EXCLUDES(m_mutex);

  const std::uint64_t m_consumerId;
  const oru::RefPtr<oru::ITracer> m_tracer;
  const oru::RefPtr<ISiemTelemetryConsumersManager> m_manager;


  // Serialises the deliveries to the exclude listeners (the task's own sink,
  // which hands the list to its client: no host code), so that the list
  // passed on last is the one of the latest state. Taken before m_mutex.
  platform::Mutex m_applyMutex ACQUIRED_BEFORE(m_mutex);
  std::optional<std::vector<std::u16string>> m_lastPassedExcluded GUARDED_BY(m_applyMutex);

  // A leaf: held only to read or write the state below.
  mutable platform::Mutex m_mutex;
  std::optional<std::vector<EventTypeSetting>> m_defaultEventsTypeSettings GUARDED_BY(m_mutex);
  std::optional<std::vector<EventTypeSetting>> m_userDefinedEventTypes GUARDED_BY(m_mutex);
  bool m_disableIfNotInEventTypes GUARDED_BY(m_mutex) = false;
  std::optional<std::vector<EventTypeSetting>> m_actualEventTypes GUARDED_BY(m_mutex);
  std::u16string m_includeRules GUARDED_BY(m_mutex);
};

}  // namespace sendara::edr_telemetry::task
