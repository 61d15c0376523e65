#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "component/oru/basic_object.h"
#include "component/oru/i_response_server_event_handler.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_task.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"
#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"
#include "component/sendara/edr_telemetry/source/task/decider_event_sink.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task_settings.h"
#include "component/sendara/edr_telemetry/source/task/exclude_settings_changed_event_sink.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"
#include "component/sendara/edr_telemetry/source/task/report_event_sink.h"
#include "component/sendara/edr_telemetry/source/task/response_server_event_handler.h"
#include "component/sendara/edr_telemetry/source/task/task_siem_telemetry_consumer.h"
#include "component/sendara/edr_telemetry/source/task/task_start_gate.h"

namespace sendara::edr_telemetry::task {

// What the host drives the component through: it takes the task's settings,
// and a start makes a client for them, registers the task's consumer with
// the consumers manager (whose calls then reach the client) and starts the
// client, at once or once the host's response server of the integration has
// started. A stop undoes all of it; the client's queue goes to its spool.
class EdrTelemetryTask final : public oru::BasicObject<EdrTelemetryTask, oru::ModuleObjectCounter, oru::ITask,
                                                       IEdrTelemetryTaskSettings> {
 public:
  // Raises GetInterfaceException without a tracer in the locator.
  explicit EdrTelemetryTask(oru::RefPtr<oru::IServiceLocator> locator);
  ~EdrTelemetryTask() override;

  oru::Result Start() noexcept override;
  oru::Result Stop() noexcept override;
  oru::Result Pause() noexcept override;
  oru::Result Resume() noexcept override;
  oru::Result SetSettings(const EdrTelemetryTaskSettings* settings) noexcept override;
  oru::Result GetSettings(EdrTelemetryTaskSettings* settings) noexcept override;

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
  // The steps below expect m_mutex held.
  void StartImpl();
  // Returns the client, to be released once m_mutex is unlocked: its
  // release stops its worker, whose connection events may be on their way
  // to a host sink that calls this task.
  oru::RefPtr<IEdrTelemetryClient> StopImpl() noexcept;
  bool HasAnything() const noexcept;
  void ApplyConsumerSettings(const EdrTelemetryTaskSettings& settings);

  const oru::RefPtr<oru::IServiceLocator> m_locator;
  const oru::RefPtr<oru::ITracer> m_tracer;
  // Re-entrant: host code called under it (the response server's subscribe,
  // the consumers manager) may call the task back on the same thread.
  std::recursive_mutex m_mutex;
  EdrTelemetryTaskSettings m_settings;
  const std::shared_ptr<ConnectionEventForwarder> m_forwarder;
  const std::shared_ptr<ConnectionCallbackEventPublisher> m_publisher;
  // Set while started.
  EdrTelemetryClientSettings m_clientSettings;
  oru::RefPtr<IEdrTelemetryClient> m_client;
  oru::RefPtr<TaskSiemTelemetryConsumer> m_consumer;
  oru::RefPtr<ISiemTelemetryConsumersManager> m_consumersManager;
  oru::RefPtr<ReportEventSink> m_reportSink;
  oru::RefPtr<DeciderEventSink> m_deciderSink;
  oru::RefPtr<ExcludeSettingsChangedEventSink> m_excludeSink;
  std::shared_ptr<TaskStartGate> m_gate;
  oru::RefPtr<oru::IResponseServerEventSubscription> m_responseServer;
  oru::RefPtr<ResponseServerEventHandler> m_responseServerHandler;
};

}  // namespace sendara::edr_telemetry::task
