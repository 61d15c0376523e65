#include "component/sendara/edr_telemetry/source/consumers_manager/siem_telemetry_consumers_manager.h"

#include <string_view>
#include <utility>

#include "component/oru/check_result_failed_exception.h"
#include "component/oru/exception_to_result.h"
#include "component/oru/i_sensitive_data_policy.h"
#include "component/oru/service_lookup.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/not_found_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/consumers_trace_text.h"

namespace sendara::edr_telemetry {
namespace {

using base::TraceLevel;

std::string ConsumerIdsTraceText(const std::vector<std::uint64_t>& ids) {
  std::string text;
  for (const std::uint64_t id : ids) {
    if (!text.empty()) text += ", ";
    text += std::to_string(id);
  }
  return text;
}

std::string ConsumerIdMessage(std::uint64_t consumerId) { return "consumer id = " + std::to_string(consumerId); }

const char* YesNo(bool value) noexcept { return value ? "yes" : "no"; }

}  // namespace

SiemTelemetryConsumersManager::SiemTelemetryConsumersManager(oru::IServiceLocator* locator)
    : m_locator(locator),
      m_tracer(oru::GetRequiredService<oru::ITracer>(locator)),
      m_sensitiveDataPolicy(oru::GetOptionalService<oru::ISensitiveDataPolicy>(locator)),
      m_consumers(std::make_shared<const Consumers>()) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "constructed");
}

oru::Result SiemTelemetryConsumersManager::GetSiemTelemetryConsumers(std::vector<std::uint64_t>& consumerIds) noexcept {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "in");
    const auto consumers = Snapshot();
    std::vector<std::uint64_t> ids;
    ids.reserve(consumers->size());
    for (const auto& [id, consumer] : *consumers) ids.push_back(id);
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "out: consumers = [ " << ConsumerIdsTraceText(ids) << " ]");
    consumerIds = std::move(ids);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::SetAllEventTypesDefaultSettings(
    const std::vector<EventTypeSetting>& settings) noexcept {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "in: event types = [ " << ToTraceText(settings) << "] ");
    // Named: the snapshot keeps the map, and each consumer, alive while it
    // is walked, whatever Add or Remove does meanwhile.
    const auto consumers = Snapshot();
    for (const auto& [id, consumer] : *consumers) consumer->SetAllEventTypesDefaultSettings(settings);
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "out");
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::GetAllEventTypesSettings(
    std::vector<ConsumerEventTypeSettings>& settings) noexcept {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "in");
    std::vector<ConsumerEventTypeSettings> collected;
    const auto consumers = Snapshot();
    for (const auto& [id, consumer] : *consumers) {
      std::vector<EventTypeSetting> eventTypes;
      const oru::Result result = consumer->GetAllEventTypesSettings(eventTypes);
      // Without one consumer's event types the producer would stop events
      // that consumer wants: no answer is better than an incomplete one.
      SENDARA_CHECK(result != oru::rc::NotInitialized, oru::CheckResultFailedException, result, ConsumerIdMessage(id));
      if (oru::Failed(result)) {
        SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                      "skip events type: consumer id = " << id << "; result = " << ResultToTraceText(result));
        continue;
      }
      collected.push_back({id, std::move(eventTypes)});
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "out: consumer event type settings = [ " << ToTraceText(collected) << " ]");
    settings = std::move(collected);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::GetIncludeRules(std::uint64_t consumerId, std::u16string& rules) noexcept {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "in: consumer id = " << consumerId);
    const oru::RefPtr<ISiemTelemetryConsumer> consumer = Find(*Snapshot(), consumerId);
    const oru::Result result = consumer->GetIncludeRules(rules);
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "out: result = " << ResultToTraceText(result) << "; settings = " << base::ToUtf8(rules));
    return result;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::SendEvent(std::uint64_t consumerId, const char16_t* event) noexcept {
  if (!event) return oru::rc::InvalidArgument;
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "in: consumer id = " << consumerId << "; event = " << EventTraceText(event));
    const oru::RefPtr<ISiemTelemetryConsumer> consumer = Find(*Snapshot(), consumerId);
    const oru::Result result = consumer->SendEvent(std::u16string_view(event, base::Utf16Length(event)));
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "out: result = " << ResultToTraceText(result));
    return result;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::ShouldEventBeDropped(std::uint32_t throttlingId, const char16_t* eventType,
                                                                bool* shouldBeDropped) noexcept {
  if (!eventType || !shouldBeDropped) return oru::rc::InvalidArgument;
  try {
    const std::u16string_view type(eventType);
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "in: throttling id = " << throttlingId << "; event type = " << base::ToUtf8(type));
    bool dropped = true;
    // No early stop: a consumer may count the events it was asked about.
    const auto consumers = Snapshot();
    for (const auto& [id, consumer] : *consumers) {
      bool consumerDrops = true;
      const oru::Result result = consumer->ShouldEventBeDropped(throttlingId, type, &consumerDrops);
      SENDARA_CHECK(result != oru::rc::NotInitialized, oru::CheckResultFailedException, result, ConsumerIdMessage(id));
      if (oru::Failed(result)) {
        SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                      "skip should be dropped: consumer id = " << id << "; result = " << ResultToTraceText(result));
        continue;
      }
      if (!consumerDrops) {
        dropped = false;
        SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                      "out: event must be sent, it is required by the consumer id = " << id);
      }
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "out: event must be dropped: " << (dropped ? "true" : "false"));
    *shouldBeDropped = dropped;
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::ShouldEventOrIoaBeDropped(std::uint64_t consumerId,
                                                                     std::uint32_t throttlingId,
                                                                     const char16_t* eventType, const char16_t* event,
                                                                     std::vector<Ioa>& ioas,
                                                                     bool* shouldBeDropped) noexcept {
  if (!eventType || !event || !shouldBeDropped) return oru::rc::InvalidArgument;
  try {
    const std::u16string_view type(eventType);
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "in: consumer id = " << consumerId << "; throttling id = " << throttlingId << "; event type = "
                                       << base::ToUtf8(type) << "; event = " << EventTraceText(event) << "; ioas = [ "
                                       << ToTraceText(ioas) << " ]");
    const oru::RefPtr<ISiemTelemetryConsumer> consumer = Find(*Snapshot(), consumerId);
    bool dropped = true;
    const oru::Result result = consumer->ShouldEventOrIoaBeDropped(
        throttlingId, type, std::u16string_view(event, base::Utf16Length(event)), ioas, &dropped);
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "out: consumer id = " << consumerId << "; shouldBeDropped = " << YesNo(dropped) << "; ioas = [ "
                                        << ToTraceText(ioas) << " ] ; result = " << ResultToTraceText(result));
    if (oru::Succeeded(result)) *shouldBeDropped = dropped;
    return result;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::AddTelemetryConsumer(ISiemTelemetryConsumer* consumer) noexcept {
  if (!consumer) return oru::rc::InvalidArgument;
  try {
    std::uint64_t id = 0;
    const oru::Result idResult = consumer->GetConsumerId(&id);
    if (oru::Failed(idResult)) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError, "Fail GetConsumerId");
      return idResult;
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "in: consumer id = " << id);
    std::shared_ptr<const Consumers> old;
    {
      platform::MutexLock lock(&m_mutex);
      auto changed = std::make_shared<Consumers>(*m_consumers);
      (*changed)[id] = oru::RefPtr<ISiemTelemetryConsumer>(consumer);
      old = std::exchange(m_consumers, std::move(changed));
    }
    // The replaced consumer, if this held its last reference.
    old.reset();
    NotifyConsumersChanged();
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "out");
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::RemoveTelemetryConsumer(ISiemTelemetryConsumer* consumer) noexcept {
  if (!consumer) return oru::rc::InvalidArgument;
  try {
    std::uint64_t id = 0;
    const oru::Result idResult = consumer->GetConsumerId(&id);
    if (oru::Failed(idResult)) return idResult;
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "in: consumer id = " << id);
    std::shared_ptr<const Consumers> old;
    {
      platform::MutexLock lock(&m_mutex);
      const auto found = m_consumers->find(id);
      // A consumer that replaced this one under the same id stays.
      if (found != m_consumers->end() && found->second.Get() == consumer) {
        auto changed = std::make_shared<Consumers>(*m_consumers);
        changed->erase(id);
        old = std::exchange(m_consumers, std::move(changed));
      }
    }
    old.reset();
    NotifyConsumersChanged();
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "out");
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result SiemTelemetryConsumersManager::SendConsumerChanged() noexcept {
  NotifyConsumersChanged();
  return oru::rc::NoError;
}

std::shared_ptr<const SiemTelemetryConsumersManager::Consumers> SiemTelemetryConsumersManager::Snapshot() const {
  platform::MutexLock lock(&m_mutex);
  return m_consumers;
}

oru::RefPtr<ISiemTelemetryConsumer> SiemTelemetryConsumersManager::Find(const Consumers& consumers,
                                                                        std::uint64_t consumerId) {
  const auto found = consumers.find(consumerId);
  if (found == consumers.end())
    SENDARA_THROW(base::not_found_exception, oru::rc::NotFound, ConsumerIdMessage(consumerId));
  return found->second;
}

std::string SiemTelemetryConsumersManager::EventTraceText(const char16_t* event) const {
  if (!m_sensitiveDataPolicy.IsAllowed()) return std::string(base::SensitiveDataTracePolicy::kHidden);
  return base::ToUtf8(event);
}

void SiemTelemetryConsumersManager::NotifyConsumersChanged() noexcept {
  Listeners().Notify([](ISiemTelemetryConsumersChangedEvent& listener) { listener.OnConsumersChanged(); });
}

}  // namespace sendara::edr_telemetry
