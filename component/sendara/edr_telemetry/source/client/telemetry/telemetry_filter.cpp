#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_filter.h"

#include <algorithm>
#include <utility>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include "component/oru/exception_to_result.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rules_json.h"

namespace sendara::edr_telemetry {
namespace {

using base::TraceLevel;

boost::json::array ToJsonArray(const std::vector<std::u16string>& types) {
  boost::json::array out;
  out.reserve(types.size());
  for (const auto& type : types) out.emplace_back(base::ToUtf8(type));
  return out;
}

TelemetryFilter::EventTypes Sorted(const TelemetryFilter::EventTypes& types) {
  if (!types) return std::nullopt;
  std::vector<std::u16string> sorted = *types;
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

bool Contains(const std::vector<std::u16string>& sorted, std::u16string_view type) {
  return std::binary_search(sorted.begin(), sorted.end(), type,
                            [](std::u16string_view a, std::u16string_view b) { return a < b; });
}

}  // namespace

TelemetryFilter::TelemetryFilter(oru::RefPtr<oru::ITracer> tracer,
                                 const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& provider)
    : m_tracer(std::move(tracer)) {
  SENDARA_CONTRACT(provider != nullptr, "settings provider");
  m_subscription = provider->SubscribeAndApply(
      "sendara::edr_telemetry::TelemetryFilter::TelemetryFilter",
      [this](const EdrTelemetryClientSettings& settings) { Apply(settings); });
}

TelemetryFilter::~TelemetryFilter() {
  // Before any member goes: waits for a settings callback under way.
  if (m_subscription) m_subscription->Unsubscribe();
}

void TelemetryFilter::Apply(const EdrTelemetryClientSettings& settings) {
  SetFilters(settings.excludeRules, settings.telemetryTransferSettings.onlyTaggedEvents,
             settings.excludedEventTypes, settings.allowedEventTypes);
}

std::shared_ptr<const TelemetryFilter::State> TelemetryFilter::Snapshot() const {
  platform::MutexLock lock(&m_stateMutex);
  return m_state;
}

bool TelemetryFilter::IsEventTypeFiltered(std::u16string_view eventType) const {
  const std::shared_ptr<const State> state = Snapshot();
  SENDARA_CHECK(state->excludedEventTypes.has_value(), base::sendara_exception, oru::rc::NotInitialized,
                "TelemetryFilter is not initialized by bases, default excluded event types are not set");
  if (Contains(*state->excludedEventTypes, eventType)) {
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "Event '" << base::ToUtf8(eventType) << "' filtered by excluded event types");
    return true;
  }
  if (state->allowedEventTypes && !Contains(*state->allowedEventTypes, eventType)) {
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "Event '" << base::ToUtf8(eventType) << "' sending is not allowed by agreement");
    return true;
  }
  return false;
}

bool TelemetryFilter::IsTagFiltered(const std::vector<Ioa>& ioas) const {
  return IsTagFiltered(*Snapshot(), ioas);
}

bool TelemetryFilter::IsTagFiltered(const State& state, const std::vector<Ioa>& ioas) {
  if (!state.onlyTaggedEvents) return false;
  return std::none_of(ioas.begin(), ioas.end(), [](const Ioa& ioa) { return ioa.isMarkable; });
}

bool TelemetryFilter::IsDropFiltered(const filtration::EventFields& event) const {
  const std::shared_ptr<const State> state = Snapshot();
  for (const ExclusionRule& rule : state->dropRules) {
    try {
      if (rule.filterExpression->Evaluate(event)) {
        SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "out: filtered = true");
        return true;
      }
    } catch (...) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "incorrect drop filter was skipped " << oru::DescribeCurrentException());
    }
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "out: filtered = false");
  return false;
}

bool TelemetryFilter::IsIoaFiltered(const filtration::EventFields& event, std::vector<Ioa>& ioas) const {
  const std::shared_ptr<const State> state = Snapshot();
  for (const ExclusionRule& rule : state->removeAllIoaRules) {
    try {
      if (rule.filterExpression->Evaluate(event)) {
        SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "filtered by " << base::ToUtf8(rule.name));
        CustomizeIoas(rule, ioas);
        return IsTagFiltered(*state, ioas);
      }
    } catch (...) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "incorrect ioa filter was skipped " << oru::DescribeCurrentException());
    }
  }
  for (const ExclusionRule& rule : state->removeIoaRules) {
    try {
      if (rule.filterExpression->Evaluate(event)) {
        SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "filtered by " << base::ToUtf8(rule.name));
        CustomizeIoas(rule, ioas);
      }
    } catch (...) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "incorrect ioa filter was skipped " << oru::DescribeCurrentException());
    }
  }
  return IsTagFiltered(*state, ioas);
}

void TelemetryFilter::CustomizeIoas(const ExclusionRule& rule, std::vector<Ioa>& ioas) const {
  const auto unmark = [this](Ioa& ioa) {
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "Remove markable for " << ioa.guid);
    ioa.isMarkable = false;
    ioa.isQdxStatExpected = false;
  };
  if (std::holds_alternative<RemoveAllIoaAction>(rule.action)) {
    for (Ioa& ioa : ioas) unmark(ioa);
  } else if (const auto* remove = std::get_if<RemoveIoaAction>(&rule.action)) {
    for (Ioa& ioa : ioas) {
      if (std::find(remove->guids.begin(), remove->guids.end(), ioa.guid) != remove->guids.end()) {
        unmark(ioa);
      }
    }
  }
}

void TelemetryFilter::SetFilters(ExclusionRules rules, bool onlyTaggedEvents,
                                 const EventTypes& excludedEventTypes,
                                 const EventTypes& allowedEventTypes) {
  auto state = std::make_shared<State>();
  state->excludedEventTypes = Sorted(excludedEventTypes);
  state->allowedEventTypes = Sorted(allowedEventTypes);
  state->onlyTaggedEvents = onlyTaggedEvents;
  const EventTypes& excluded = state->excludedEventTypes;
  const EventTypes& allowed = state->allowedEventTypes;

  std::shared_ptr<const State> previous;
  platform::MutexLock lock(&m_stateMutex);
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "rules = " << boost::json::serialize(ToTraceJson(rules)) << "; onlyTaggedEvents = "
                           << (onlyTaggedEvents ? "yes" : "no") << "; excludedEventTypes = "
                           << boost::json::serialize(boost::json::object{
                                  {"data", excluded ? boost::json::value(ToJsonArray(*excluded))
                                                    : boost::json::value(nullptr)}})
                           << "; allowedEventTypes = "
                           << (allowed ? boost::json::serialize(boost::json::object{
                                             {"items", ToJsonArray(*allowed)}})
                                       : std::string("{nullopt}")));
  state->dropRules = std::move(rules.dropRules);
  state->removeAllIoaRules = std::move(rules.removeAllIoaRules);
  state->removeIoaRules = std::move(rules.removeIoaRules);
  // The old state goes when its last query is done with it, outside the lock.
  previous = std::exchange(m_state, std::move(state));
}

}  // namespace sendara::edr_telemetry
