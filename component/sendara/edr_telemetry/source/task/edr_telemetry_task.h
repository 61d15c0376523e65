#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_task.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"
#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task_settings.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_counts.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"
#include "component/sendara/edr_telemetry/source/task/task_run.h"

namespace sendara::edr_telemetry::task {

// What the host drives the component through: it takes the task's settings,
// and a start makes a client for them, registers the task's consumer with
// the consumers manager (whose calls then reach the client) and starts the
// client, at once or once the host's response server of the integration has
// started. A stop undoes all of it; the client's queue goes to its spool.
class EdrTelemetryTask final : public oru::BasicObject<EdrTelemetryTask, oru::ModuleObjectCounter, oru::ITask,
                                                       IEdrTelemetryTaskSettings, IEdrTelemetryTaskCounts> {
 public:
  // Raises GetInterfaceException without a tracer in the locator.
  explicit EdrTelemetryTask(oru::RefPtr<oru::IServiceLocator> locator);
  ~EdrTelemetryTask() override;

  oru::Result Start() noexcept override EXCLUDES(m_mutex);
  // Once it returns, no client of the task runs (unless it was called from
  // one of the client's own sending threads, through a connection sink:
  // those end by themselves once the sink returns).
  oru::Result Stop() noexcept override EXCLUDES(m_mutex);
  oru::Result Pause() noexcept override;
  oru::Result Resume() noexcept override;
  oru::Result SetSettings(const EdrTelemetryTaskSettings* settings) noexcept override EXCLUDES(m_mutex);
  oru::Result GetSettings(EdrTelemetryTaskSettings* settings) noexcept override EXCLUDES(m_mutex);
  // Every client the task ran, the one running included.
  oru::Result GetDeliveryCounts(EdrTelemetryDeliveryCounts* counts) noexcept override EXCLUDES(m_mutex);

  // Raises oru::CheckResultFailedException (InvalidArgument) naming the
  // first rule the settings break.
  static void ValidateSettings(const EdrTelemetryTaskSettings& settings);
  // The client's settings for the task's. Raises for settings it cannot
  // convert; a client certificate that cannot be read is also reported to
  // the host through `publisher`.
  static EdrTelemetryClientSettings ConvertSettings(oru::ITracer* tracer, oru::IServiceLocator* locator,
                                                    ConnectionCallbackEventPublisher& publisher,
                                                    const EdrTelemetryTaskSettings& settings);
  // 0, 5 and 9 pass; anything else raises contract_exception.
  static std::uint32_t ConvertGzipCompressionLevel(std::uint32_t level);

 private:
  // The steps of SetSettings and Start that run outside m_mutex.
  oru::Result ApplySettings(const std::shared_ptr<TaskRun>& run) EXCLUDES(m_mutex);
  // Takes the run out, so that nothing else ends it or applies settings to
  // it, and ends it after letting the lock go.
  void StopRun() EXCLUDES(m_mutex);
  void KeepCountersLocked(std::shared_ptr<const telemetry::DeliveryCounters> counters) REQUIRES(m_mutex);

  const oru::RefPtr<oru::IServiceLocator> m_locator;
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<ConnectionEventForwarder> m_forwarder;
  const std::shared_ptr<ConnectionCallbackEventPublisher> m_publisher;
  // Held only to read or write what it guards: no host code, no wait, no
  // client call under it. The host may call back from the consumers-changed
  // listeners and the connection sinks at any time. Taken before the
  // forwarder's own lock.
  platform::Mutex m_mutex;
  EdrTelemetryTaskSettings m_settings GUARDED_BY(m_mutex);
  // Counts the changes of m_settings: a start that read older ones begins anew.
  std::uint64_t m_settingsVersion GUARDED_BY(m_mutex) = 0;
  // Set while started, with the client settings it runs with.
  std::shared_ptr<TaskRun> m_run GUARDED_BY(m_mutex);
  EdrTelemetryClientSettings m_clientSettings GUARDED_BY(m_mutex);
  // One thread at a time applies settings to the run, the newest each round,
  // so that two changes at once cannot leave the client with the older one.
  // A change that comes while another thread applies is left to that thread.
  bool m_applying GUARDED_BY(m_mutex) = false;
  bool m_applyWanted GUARDED_BY(m_mutex) = false;
  // The threads ending a run: a stop that finds the run taken waits for
  // them, so that once any Stop returns nothing of the task runs.
  std::vector<std::thread::id> m_stopping GUARDED_BY(m_mutex);
  platform::ConditionVariable m_stopped;
  // The counters of the clients that may still count, and the sum of those
  // that are gone.
  std::vector<std::shared_ptr<const telemetry::DeliveryCounters>> m_counters GUARDED_BY(m_mutex);
  EdrTelemetryDeliveryCounts m_endedRunsCounts GUARDED_BY(m_mutex);
};

}  // namespace sendara::edr_telemetry::task
