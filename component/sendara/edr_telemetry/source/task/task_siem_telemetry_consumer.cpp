#include "component/sendara/edr_telemetry/source/task/task_siem_telemetry_consumer.h"

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "component/oru/check_result_failed_exception.h"
#include "component/oru/exception_to_result.h"
#include "component/oru/service_lookup.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/consumers_trace_text.h"

namespace sendara::edr_telemetry::task {
namespace {

using base::TraceLevel;

// Not GetRequiredService: a consumer without its manager is a failed check
// with the locator's own result.
oru::RefPtr<ISiemTelemetryConsumersManager> LookUpManager(oru::IServiceLocator* locator) {
  void* object = nullptr;
  const oru::Result result =
      locator ? locator->GetInterface(ISiemTelemetryConsumersManager::kIid, 0, &object) : oru::rc::InvalidArgument;
  SENDARA_CHECK_RESULT(result, oru::CheckResultFailedException, "consumers manager");
  SENDARA_CHECK(object, oru::CheckResultFailedException, oru::rc::NotFound, "consumers manager");
  return oru::RefPtr<ISiemTelemetryConsumersManager>::Adopt(static_cast<ISiemTelemetryConsumersManager*>(object));
}

const char* YesNo(bool value) noexcept { return value ? "yes" : "no"; }

// The types not included, in ascending code-unit order, without duplicates.
std::vector<std::u16string> ExcludedOf(const std::vector<EventTypeSetting>& settings) {
  std::vector<std::u16string> excluded;
  for (const EventTypeSetting& setting : settings) {
    if (!setting.included) excluded.push_back(setting.event);
  }
  std::sort(excluded.begin(), excluded.end());
  excluded.erase(std::unique(excluded.begin(), excluded.end()), excluded.end());
  return excluded;
}

bool SameRegardlessOfOrder(std::vector<EventTypeSetting> a, std::vector<EventTypeSetting> b) {
  if (a.size() != b.size()) return false;
  const auto less = [](const EventTypeSetting& x, const EventTypeSetting& y) {
    return std::tie(x.event, x.included) < std::tie(y.event, y.included);
  };
  std::sort(a.begin(), a.end(), less);
  std::sort(b.begin(), b.end(), less);
  return a == b;
}

// A rule is enabled unless it says otherwise: only a missing, null or true
// "enable" keeps it. Anything but an object has no "enable" at all.
bool IsEnabledRule(const boost::json::value& rule) {
  const boost::json::object* fields = rule.if_object();
  const boost::json::value* enable = fields ? fields->if_contains("enable") : nullptr;
  return !enable || enable->is_null() || (enable->is_bool() && enable->get_bool());
}

}  // namespace

TaskSiemTelemetryConsumer::TaskSiemTelemetryConsumer(oru::IServiceLocator* locator, std::uint64_t consumerId)
    : m_consumerId(consumerId),
      m_tracer(oru::GetRequiredService<oru::ITracer>(locator)),
      m_manager(LookUpManager(locator)) {}

oru::Result TaskSiemTelemetryConsumer::GetConsumerId(std::uint64_t* consumerId) noexcept {
  if (!consumerId) return oru::rc::InvalidArgument;
  *consumerId = m_consumerId;
  return oru::rc::NoError;
}

oru::Result TaskSiemTelemetryConsumer::SetAllEventTypesDefaultSettings(
    const std::vector<EventTypeSetting>& settings) noexcept {
  try {
    ConsumerReaction reaction;
    {
      platform::MutexLock lock(&m_mutex);
      m_defaultEventsTypeSettings = settings;
      reaction = UpdateActualEventTypes();
    }
    ApplyOutOfMutexReaction(reaction);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result TaskSiemTelemetryConsumer::GetAllEventTypesSettings(std::vector<EventTypeSetting>& settings) noexcept {
  try {
    std::vector<EventTypeSetting> actual;
    {
      platform::MutexLock lock(&m_mutex);
      if (!m_actualEventTypes) return oru::rc::NotInitialized;
      actual = *m_actualEventTypes;
    }
    settings = std::move(actual);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result TaskSiemTelemetryConsumer::GetIncludeRules(std::u16string& rules) noexcept {
  try {
    std::u16string copy;
    {
      platform::MutexLock lock(&m_mutex);
      copy = m_includeRules;
    }
    rules = std::move(copy);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result TaskSiemTelemetryConsumer::SendEvent(std::u16string_view event) noexcept {
  // A listener's own failure is its to trace. With no listener at all (a
  // call that passed the manager just before the task stopped) nobody took
  // the event: the producer hears so, as it would a moment later from the
  // manager, instead of a success for an event that is gone.
  const std::size_t listeners =
      ReportSource::Listeners().Notify([event](ISiemTelemetryReportEvent& listener) { listener.OnReport(event); });
  return listeners ? oru::rc::NoError : oru::rc::NotFound;
}

oru::Result TaskSiemTelemetryConsumer::ShouldEventBeDropped(std::uint32_t throttlingId, std::u16string_view eventType,
                                                            bool* shouldBeDropped) noexcept {
  if (!shouldBeDropped) return oru::rc::InvalidArgument;
  try {
    bool dropped = false;
    oru::Result failure = oru::rc::NoError;
    DeciderSource::Listeners().Notify([&](ISiemTelemetryDeciderEvent& decider) {
      // The first failure ends the question; Notify goes on, so the rest skip.
      if (oru::Failed(failure)) return;
      bool deciderDrops = false;
      failure = decider.ShouldEventBeDropped(throttlingId, eventType, &deciderDrops);
      if (oru::Succeeded(failure)) dropped = dropped || deciderDrops;
    });
    SENDARA_CHECK_RESULT(failure, oru::CheckResultFailedException, "decider");
    *shouldBeDropped = dropped;
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result TaskSiemTelemetryConsumer::ShouldEventOrIoaBeDropped(std::uint32_t throttlingId,
                                                                 std::u16string_view eventType,
                                                                 std::u16string_view event, std::vector<Ioa>& ioas,
                                                                 bool* shouldBeDropped) noexcept {
  if (!shouldBeDropped) return oru::rc::InvalidArgument;
  try {
    bool dropped = false;
    oru::Result failure = oru::rc::NoError;
    DeciderSource::Listeners().Notify([&](ISiemTelemetryDeciderEvent& decider) {
      if (oru::Failed(failure)) return;
      bool deciderDrops = false;
      failure = decider.ShouldEventOrIoaBeDropped(throttlingId, eventType, event, ioas, &deciderDrops);
      if (oru::Succeeded(failure)) dropped = dropped || deciderDrops;
    });
    SENDARA_CHECK_RESULT(failure, oru::CheckResultFailedException, "decider");
    *shouldBeDropped = dropped;
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result TaskSiemTelemetryConsumer::SetUserDefinedEventTypes(bool disableIfNotInEventTypes,
                                                                std::vector<EventTypeSetting> types) noexcept {
  try {
    ConsumerReaction reaction;
    {
      platform::MutexLock lock(&m_mutex);
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                    "Try to set user-defined event types. "
                        << "\n\t"
                        << "=> New: disableIfNotInEventTypes=" << disableIfNotInEventTypes << "\n"
                        << ToTraceText(types) << "\n\t"
                        << (m_userDefinedEventTypes
                                ? "=> Old: m_disableIfNotInEventTypes=" + std::to_string(m_disableIfNotInEventTypes) +
                                      ToTraceText(*m_userDefinedEventTypes)
                                : std::string("=> Old: null")));
      m_disableIfNotInEventTypes = disableIfNotInEventTypes;
      m_userDefinedEventTypes = std::move(types);
      reaction = UpdateActualEventTypes();
    }
    ApplyOutOfMutexReaction(reaction);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result TaskSiemTelemetryConsumer::SetIncludeRules(std::u16string settings) noexcept {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "in: settings = " << base::ToUtf8(settings) << "; consumer id = " << m_consumerId);
    std::u16string filtered = FilterEnabledInclusiveRules(settings);
    bool changed = false;
    {
      platform::MutexLock lock(&m_mutex);
      if (filtered != m_includeRules) {
        SENDARA_TRACE(
            m_tracer, TraceLevel::kInfo,
            "enabled rules changes: new = " << base::ToUtf8(filtered) << "; old = " << base::ToUtf8(m_includeRules));
        m_includeRules = std::move(filtered);
        changed = true;
      }
    }
    if (changed) m_manager->SendConsumerChanged();
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "out");
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

std::u16string TaskSiemTelemetryConsumer::FilterEnabledInclusiveRules(std::u16string_view text) {
  if (text.empty()) return std::u16string(text);
  boost::json::value document = base::from_string(base::ToUtf8(text));
  boost::json::object* members = document.if_object();
  boost::json::value* rules = members ? members->if_contains("inclusiveRules") : nullptr;
  boost::json::array* list = rules ? rules->if_array() : nullptr;
  if (!list || list->empty()) return std::u16string(text);
  boost::json::array enabled;
  for (const boost::json::value& rule : *list) {
    if (IsEnabledRule(rule)) enabled.push_back(rule);
  }
  *rules = std::move(enabled);
  return base::ToUtf16(boost::json::serialize(document));
}

ConsumerReaction TaskSiemTelemetryConsumer::UpdateActualEventTypes() {
  if (!m_defaultEventsTypeSettings || !m_userDefinedEventTypes) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "not needed update, data not exists: exists default events = "
                      << YesNo(m_defaultEventsTypeSettings.has_value())
                      << "; exists user events = " << YesNo(m_userDefinedEventTypes.has_value()));
    return {};
  }

  // The first setting of a type the user named twice counts.
  std::map<std::u16string, bool> userIncluded;
  for (const EventTypeSetting& setting : *m_userDefinedEventTypes)
    userIncluded.emplace(setting.event, setting.included);

  std::vector<EventTypeSetting> actual;
  actual.reserve(m_defaultEventsTypeSettings->size());
  std::set<std::u16string> matched;
  for (const EventTypeSetting& setting : *m_defaultEventsTypeSettings) {
    // Every copy of a type the producer lists twice gets the user's choice.
    const auto user = userIncluded.find(setting.event);
    if (user != userIncluded.end()) {
      actual.push_back({setting.event, user->second});
      matched.insert(setting.event);
    } else {
      actual.push_back({setting.event, m_disableIfNotInEventTypes ? false : setting.included});
    }
  }
  // The producer does not have them: a consumer cannot ask for them.
  for (const auto& [type, included] : userIncluded) {
    if (matched.count(type)) continue;
    SENDARA_TRACE(m_tracer, TraceLevel::kError,
                  "m_userDefinedEventTypes not in m_defaultEventsTypeSettings: " << base::ToUtf8(type));
  }

  ConsumerReaction reaction;
  std::vector<std::u16string> excluded = ExcludedOf(actual);
  if (!m_actualEventTypes) {
    reaction.actualEventTypesChanged = true;
    reaction.excluded = std::move(excluded);
  } else {
    reaction.actualEventTypesChanged = !SameRegardlessOfOrder(actual, *m_actualEventTypes);
    if (excluded != ExcludedOf(*m_actualEventTypes)) reaction.excluded = std::move(excluded);
  }
  m_actualEventTypes = std::move(actual);
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "Default: " << ToTraceText(*m_defaultEventsTypeSettings) << "\n\t"
                            << "Actual: " << ToTraceText(*m_actualEventTypes));
  return reaction;
}

void TaskSiemTelemetryConsumer::ApplyOutOfMutexReaction(const ConsumerReaction& reaction) {
  // The manager's listeners are the host's: told with no lock of ours held,
  // since they may call the task or the manager back from any thread. They
  // read the state anew, so the order of two threads' notices is moot.
  if (reaction.actualEventTypesChanged) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "actualEventTypesChanged");
    m_manager->SendConsumerChanged();
  }
  // Reactions are computed under m_mutex but delivered after it, so those of
  // two threads (the producer's defaults, the task's user types) may arrive
  // in either order. Deliveries are therefore serialised, and what goes to
  // the exclude listeners is read from the current state, never taken from
  // the reaction: the last list passed on is always the latest one.
  platform::MutexLock apply(&m_applyMutex);
  const std::optional<std::vector<std::u16string>> excluded = CurrentExcludedEventTypes();
  if (!excluded || excluded == m_lastPassedExcluded) return;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "Actual excluded event types changed");
  m_lastPassedExcluded = excluded;
  ExcludeSource::Listeners().Notify([&excluded](ISiemTelemetryExcludeSettingsChangedEvent& listener) {
    listener.OnExcludeSettingsChanged(*excluded);
  });
}

std::optional<std::vector<std::u16string>> TaskSiemTelemetryConsumer::CurrentExcludedEventTypes() const {
  platform::MutexLock lock(&m_mutex);
  if (!m_actualEventTypes) return std::nullopt;
  return ExcludedOf(*m_actualEventTypes);
}

}  // namespace sendara::edr_telemetry::task
