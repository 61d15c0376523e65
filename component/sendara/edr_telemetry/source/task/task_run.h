#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "component/oru/i_response_server_event_handler.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"
#include "component/sendara/edr_telemetry/source/task/decider_event_sink.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task_settings.h"
#include "component/sendara/edr_telemetry/source/task/exclude_settings_changed_event_sink.h"
#include "component/sendara/edr_telemetry/source/task/report_event_sink.h"
#include "component/sendara/edr_telemetry/source/task/response_server_event_handler.h"
#include "component/sendara/edr_telemetry/source/task/task_siem_telemetry_consumer.h"
#include "component/sendara/edr_telemetry/source/task/task_start_gate.h"

namespace sendara::edr_telemetry::task {

// What one start of a task made: the client, the consumer that brings it the
// host's events, and the delayed start's subscription. The task holds it
// while started; its stop takes it out under the task's lock and ends it
// after letting the lock go, since ending it runs host code and waits for
// the client's threads.
class TaskRun : public std::enable_shared_from_this<TaskRun> {
 public:
  // Makes the client and the consumer, subscribed to each other, with the
  // consumer's settings applied; nothing is registered or started yet.
  TaskRun(oru::RefPtr<oru::ITracer> tracer, oru::IServiceLocator* locator,
          const EdrTelemetryTaskSettings& settings, const EdrTelemetryClientSettings& clientSettings,
          std::shared_ptr<ConnectionEventForwarder> forwarder);
  TaskRun(const TaskRun&) = delete;
  TaskRun& operator=(const TaskRun&) = delete;
  // Ends the run if Stop was not called.
  ~TaskRun();

  // Registers the consumer and starts the client, or, when the settings ask
  // for it, subscribes to the response server, whose first event for the
  // integration registers the consumer and whose "started" starts the client.
  void Begin();
  // The consumer's include rules and event types, then the client's settings.
  void Apply(const EdrTelemetryTaskSettings& settings, const EdrTelemetryClientSettings& clientSettings);
  // Unregisters the consumer, waits for calls under way in it, unsubscribes
  // from the response server and stops the client for good: once this
  // returns nothing of the run sends (unless it was called on one of the
  // client's own sending threads, which end by themselves a moment later).
  // Only the first call acts. Without `waitForActions` (called on one of
  // the client's sending threads, which a delayed start under way may be
  // waiting for through the client) the actions under way are not waited
  // for: they find the run stopped and undo what they did, and the client,
  // stopped for good, starts no more.
  void Stop(bool waitForActions = true) noexcept;
  // The response server's event for the integration: registers the consumer
  // once; with `started`, starts the client. Does nothing once stopped.
  void OnResponseServerEvent(bool started);
  // The client's account of its events.
  std::shared_ptr<const telemetry::DeliveryCounters> Counters() const { return m_counters; }

 private:
  void ApplyConsumerSettings(const EdrTelemetryTaskSettings& settings);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const oru::RefPtr<oru::IServiceLocator> m_locator;
  const std::uint64_t m_consumerId;
  const bool m_startAfterResponseServer;
  TaskStartGate m_gate;
  oru::RefPtr<IEdrTelemetryClient> m_client;
  std::shared_ptr<const telemetry::DeliveryCounters> m_counters;
  oru::RefPtr<TaskSiemTelemetryConsumer> m_consumer;
  oru::RefPtr<ISiemTelemetryConsumersManager> m_manager;
  oru::RefPtr<ReportEventSink> m_reportSink;
  oru::RefPtr<DeciderEventSink> m_deciderSink;
  oru::RefPtr<ExcludeSettingsChangedEventSink> m_excludeSink;
  oru::RefPtr<oru::IResponseServerEventSubscription> m_responseServer;
  oru::RefPtr<ResponseServerEventHandler> m_handler;
  std::atomic<bool> m_consumerAdded{false};
  std::atomic<bool> m_subscribed{false};
  std::atomic<bool> m_stopped{false};
};

}  // namespace sendara::edr_telemetry::task
