#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_handler_impl.h"

#include <sstream>

#include "component/platform/mutex_lock.h"
#include "component/platform/probes.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/thread_safe_subscription.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/utf_convert.h"

namespace sendara::edr_telemetry::telemetry {

using base::TraceLevel;

TelemetryHandlerImpl::TelemetryHandlerImpl(
    oru::RefPtr<oru::ITracer> tracer, base::SensitiveDataTracePolicy policy,
    std::shared_ptr<ITelemetryQueue> queue,
    const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& settingsProvider,
    std::shared_ptr<DeliveryCounters> counters)
    : m_tracer(std::move(tracer)),
      m_queue(std::move(queue)),
      m_counters(std::move(counters)),
      m_policy(std::move(policy)) {
  SENDARA_CONTRACT(m_queue != nullptr, "queue");
  SENDARA_CONTRACT(settingsProvider != nullptr, "settings provider");
  m_settingsSubscription = settingsProvider->SubscribeAndApply(
      "sendara::edr_telemetry::telemetry::TelemetryHandlerImpl::TelemetryHandlerImpl",
      [this](const EdrTelemetryClientSettings& settings) { ApplySettings(settings); });
}

TelemetryHandlerImpl::~TelemetryHandlerImpl() {
  if (m_settingsSubscription) m_settingsSubscription->Unsubscribe();
}

std::shared_ptr<base::ISubscription> TelemetryHandlerImpl::Subscribe(std::string clientName,
                                                                     std::function<void()> callback) {
  SENDARA_CONTRACT(static_cast<bool>(callback), "callback should be set");
  return std::make_shared<base::ThreadSafeSubscription<void()>>(m_tracer, m_queueFull, std::move(clientName),
                                                                std::move(callback));
}

void TelemetryHandlerImpl::ApplySettings(const EdrTelemetryClientSettings& settings) {
  std::shared_ptr<const FieldSet> allowed;
  if (settings.allowedEventFields) {
    auto fields = std::make_shared<FieldSet>(16);
    fields->max_load_factor(1.0f);
    fields->insert(settings.allowedEventFields->begin(), settings.allowedEventFields->end());
    allowed = std::move(fields);
  }

  platform::MutexLock lock(&m_fieldsMutex);
  const std::int32_t packageSize = settings.telemetryTransferSettings.maximumNumberOfEventsInPackage;
  m_packageSize = packageSize;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "New settings: size of package = " << packageSize);
  m_allowedFields = std::move(allowed);
  m_fieldsRestricted = m_allowedFields != nullptr;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "New settings: allowed events = " << [&] {
    if (!settings.allowedEventFields) return std::string("{nullopt}");
    std::string items = "{\"items\" : [";
    bool first = true;
    for (const std::string& field : *settings.allowedEventFields) {
      if (!first) items += ",";
      first = false;
      items += "\"" + field + "\"";
    }
    return items + "]}";
  }());
}

void TelemetryHandlerImpl::SendTelemetry(std::u16string_view text) {
  std::string utf8;
  base::ToUtf8(text, utf8);
  SendTelemetryUtf8(utf8);
}

void TelemetryHandlerImpl::SendTelemetryUtf8(std::string_view text) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "");

  std::shared_ptr<const FieldSet> allowed;
  if (m_fieldsRestricted) {
    // The set itself decides: a change may have lifted the restriction
    // since the flag was read.
    platform::MutexLock lock(&m_fieldsMutex);
    allowed = m_allowedFields;
  }
  if (!allowed) {
    m_queue->PushBackUtf8(text);
  } else if (!QueueRestricted(text, *allowed)) {
    return;
  }
  CountEvent();
}

bool TelemetryHandlerImpl::QueueRestricted(std::string_view utf8, const FieldSet& allowed) {
  std::unique_ptr<EventFieldStripper> stripper = TakeStripper();
  bool queued = false;
  try {
    // The queue copies the text it is given: the stripper's is taken as it is.
    switch (stripper->Strip(utf8, allowed)) {
      case EventFieldStripper::Outcome::kUnchanged:
        // Byte for byte as received, never re-serialised.
        m_queue->PushBackUtf8(utf8);
        queued = true;
        break;
      case EventFieldStripper::Outcome::kStripped:
        m_queue->PushBackUtf8(stripper->Stripped());
        queued = true;
        break;
      case EventFieldStripper::Outcome::kEmpty:
        SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                      "All event fields removed. Event not sent: " << m_policy.Reveal(utf8));
        if (m_counters) ++m_counters->emptiedByFieldRules;
        break;
    }
  } catch (...) {
    ReturnStripper(std::move(stripper));
    throw;
  }
  ReturnStripper(std::move(stripper));
  return queued;
}

std::unique_ptr<EventFieldStripper> TelemetryHandlerImpl::TakeStripper() {
  {
    platform::MutexLock lock(&m_strippersMutex);
    if (!m_strippers.empty()) {
      std::unique_ptr<EventFieldStripper> stripper = std::move(m_strippers.back());
      m_strippers.pop_back();
      return stripper;
    }
  }
  return std::make_unique<EventFieldStripper>();
}

void TelemetryHandlerImpl::ReturnStripper(std::unique_ptr<EventFieldStripper> stripper) {
  platform::MutexLock lock(&m_strippersMutex);
  m_strippers.push_back(std::move(stripper));
}

void TelemetryHandlerImpl::CountEvent() {
  platform::MutexLock lock(&m_counterMutex);
  if (++m_counter < m_packageSize) return;
  const std::int32_t counted = m_counter;
  m_counter = 0;
  // Subscribers run here, on this thread, under the counter lock only.
  m_queueFull();
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "queue full, triggered telemetry processing");
  platform::Probes::QueueFull(static_cast<std::uint64_t>(counted));
}

}  // namespace sendara::edr_telemetry::telemetry
