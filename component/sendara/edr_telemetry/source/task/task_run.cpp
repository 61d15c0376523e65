#include "component/sendara/edr_telemetry/source/task/task_run.h"

#include <string>
#include <utility>

#include "component/oru/exception_to_result.h"
#include "component/oru/service_lookup.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"

namespace sendara::edr_telemetry::task {
namespace {

using base::TraceLevel;

}  // namespace

TaskRun::TaskRun(oru::RefPtr<oru::ITracer> tracer, oru::IServiceLocator* locator,
                 const EdrTelemetryTaskSettings& settings, const EdrTelemetryClientSettings& clientSettings,
                 std::shared_ptr<ConnectionEventForwarder> forwarder)
    : m_tracer(std::move(tracer)),
      m_locator(locator),
      m_consumerId(settings.consumerId),
      m_startAfterResponseServer(settings.startAfterResponseServer) {
  const auto factory = oru::GetRequiredService<IEdrTelemetryClientServiceFactory>(locator);
  IEdrTelemetryClient* created = nullptr;
  SENDARA_CHECK_RESULT(factory->CreateEdrTelemetryClient(clientSettings, std::move(forwarder), &created),
                       base::sendara_exception, "Cannot create EdrTelemetryClient");
  m_client = oru::RefPtr<IEdrTelemetryClient>::Adopt(created);
  m_counters = m_client->Counters();
  m_reportSink = ReportEventSink::Create(m_client);
  m_deciderSink = DeciderEventSink::Create(m_client);
  m_excludeSink = ExcludeSettingsChangedEventSink::Create(m_client);

  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "EdrTelemetryClient created, going to subscribe");
  m_consumer = TaskSiemTelemetryConsumer::Create(locator, settings.consumerId);
  SENDARA_CHECK_RESULT(m_consumer->ReportSource::Subscribe(m_reportSink.Get()), base::sendara_exception,
                       "Cannot subscribe to ISiemTelemetryReportEvent");
  SENDARA_CHECK_RESULT(m_consumer->DeciderSource::Subscribe(m_deciderSink.Get()), base::sendara_exception,
                       "Cannot subscribe to ISiemTelemetryDeciderEvent");
  SENDARA_CHECK_RESULT(m_consumer->ExcludeSource::Subscribe(m_excludeSink.Get()), base::sendara_exception,
                       "Cannot subscribe to ISiemTelemetryExcludeSettingsChangedEvent");

  void* manager = nullptr;
  SENDARA_CHECK_RESULT(locator->GetInterface(ISiemTelemetryConsumersManager::kIid, 0, &manager),
                       base::sendara_exception, "Cannot GetInterface to m_iSiemTelemetryConsumersManager");
  m_manager = oru::RefPtr<ISiemTelemetryConsumersManager>::Adopt(static_cast<ISiemTelemetryConsumersManager*>(manager));
  ApplyConsumerSettings(settings);
}

TaskRun::~TaskRun() { Stop(); }

void TaskRun::Begin() {
  if (!m_startAfterResponseServer) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "start EdrTelemetryClient");
    OnResponseServerEvent(true);
    return;
  }
  const auto integrationId = static_cast<std::uint16_t>(m_consumerId & 0xFFFF);
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "start EdrTelemetryClient after start response server: integration id = " << integrationId);
  const TaskStartGateAction action(m_gate);
  if (!action.Entered()) return;
  // Not the run itself: the host keeps the handler for as long as it likes.
  m_handler = ResponseServerEventHandler::Create(
      m_tracer,
      [run = weak_from_this()](bool started) {
        if (const std::shared_ptr<TaskRun> held = run.lock()) held->OnResponseServerEvent(started);
      },
      integrationId);
  m_responseServer = oru::GetRequiredService<oru::IResponseServerEventSubscription>(m_locator.Get());
  SENDARA_CHECK_RESULT(m_responseServer->Subscribe(m_handler.Get()), base::sendara_exception,
                       "Cannot subscribe to IResponseServerEventSubscription");
  m_subscribed = true;
  // Stopped from inside the subscribe, on this thread: that stop found
  // nothing to unsubscribe yet.
  if (!m_gate.IsOpen() && m_subscribed.exchange(false)) m_responseServer->Unsubscribe(m_handler.Get());
}

void TaskRun::OnResponseServerEvent(bool started) {
  const TaskStartGateAction action(m_gate);
  if (!action.Entered()) return;
  if (!m_consumerAdded.exchange(true)) {
    try {
      SENDARA_CHECK_RESULT(
          m_manager->AddTelemetryConsumer(m_consumer.Get()), base::sendara_exception,
          "Cannot m_iSiemTelemetryConsumersManager->AddTelemetryConsumer(m_taskSiemTelemetryConsumer)");
    } catch (...) {
      // The next event tries again.
      m_consumerAdded = false;
      throw;
    }
    // Stopped from inside a consumers-changed listener, on this thread: that
    // stop may have come before the consumer was in the manager.
    if (!m_gate.IsOpen()) {
      m_manager->RemoveTelemetryConsumer(m_consumer.Get());
      return;
    }
  }
  if (!started) return;
  SENDARA_CHECK_RESULT(m_client->Start(), base::sendara_exception, "Cannot start EdrTelemetryClient");
}

void TaskRun::Apply(const EdrTelemetryTaskSettings& settings, const EdrTelemetryClientSettings& clientSettings) {
  ApplyConsumerSettings(settings);
  SENDARA_CHECK_RESULT(m_client->SetSettings(clientSettings), base::sendara_exception, "Cannot m_client->SetSettings");
}

void TaskRun::ApplyConsumerSettings(const EdrTelemetryTaskSettings& settings) {
  SENDARA_CHECK_RESULT(m_consumer->SetIncludeRules(settings.includeRules), base::sendara_exception,
                       "Cannot m_taskSiemTelemetryConsumer->SetIncludeRules");
  SENDARA_CHECK_RESULT(
      m_consumer->SetUserDefinedEventTypes(settings.disableIfNotInEventTypes, settings.userDefinedEventTypes),
      base::sendara_exception, "Cannot m_taskSiemTelemetryConsumer->SetUserDefinedEventTypes");
}

void TaskRun::Stop(bool waitForActions) noexcept {
  if (m_stopped.exchange(true)) return;
  // First the actions: once the gate is closed (and those under way have
  // returned) nothing registers the consumer or starts the client.
  m_gate.Close(waitForActions);
  // No new calls reach the consumer...
  if (m_consumerAdded) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "RemoveTelemetryConsumer with id=" << m_consumerId);
    if (oru::Failed(m_manager->RemoveTelemetryConsumer(m_consumer.Get()))) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError, "RemoveTelemetryConsumer failed");
    }
  }
  // ...and those under way have returned before the client stops.
  if (m_consumer) {
    if (m_reportSink && oru::Failed(m_consumer->ReportSource::UnsubscribeAndWait(m_reportSink.Get()))) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError, "m_siemTelemetryReportEventsSubscriber.Unsubscribe failed");
    }
    if (m_deciderSink && oru::Failed(m_consumer->DeciderSource::UnsubscribeAndWait(m_deciderSink.Get()))) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError, "m_siemTelemetryDeciderEventsSubscriber.Unsubscribe failed");
    }
    if (m_excludeSink && oru::Failed(m_consumer->ExcludeSource::UnsubscribeAndWait(m_excludeSink.Get()))) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError,
                    "m_siemTelemetryExcludeSettingsChangedEventsSubscriber.Unsubscribe failed");
    }
  }
  if (m_subscribed.exchange(false) && oru::Failed(m_responseServer->Unsubscribe(m_handler.Get()))) {
    SENDARA_TRACE(m_tracer, TraceLevel::kError, "m_responseServerEventSubscriber.Unsubscribe failed");
  }
  // Ended for good: a host that still holds the delayed start's handler, or
  // a settings change under way, starts nothing again.
  if (m_client && oru::Failed(m_client->Stop())) SENDARA_TRACE(m_tracer, TraceLevel::kError, "client stop failed");
}

}  // namespace sendara::edr_telemetry::task
