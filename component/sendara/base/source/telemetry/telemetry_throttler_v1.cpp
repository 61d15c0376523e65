#include "component/sendara/base/detail/telemetry/telemetry_throttler_v1.h"

#include <algorithm>
#include <chrono>
#include <string>

#include <boost/json/serialize.hpp>

#include "component/oru/exception_to_result.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/mul_div.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base::telemetry {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
// File times count from 1601, the system clock from 1970.
constexpr std::uint64_t kUnixEpochAsFileTime = 116'444'736'000'000'000;

boost::json::object SettingsJson(const ThrottlerSettings& settings) {
  return boost::json::object{{"useRequestCountLimits", settings.useRequestCountLimits},
                             {"numberOfEventsInBlock", settings.numberOfEventsInBlock},
                             {"eventLimitExceededPercentage", settings.eventLimitExceededPercentage},
                             {"maximumNumberOfEventsInHour", settings.maximumNumberOfEventsInHour}};
}

// How long a closed block took; nothing for an open block or one whose
// times make no sense (handed in from outside).
std::optional<std::uint64_t> BlockDuration(const ThrottlerStatistics& statistics) {
  if (statistics.finish == ThrottlerStatistics::kOpen || statistics.finish < statistics.start) {
    return std::nullopt;
  }
  return statistics.finish - statistics.start;
}

}  // namespace

std::uint64_t TelemetryThrottlerV1::SystemFileTime() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(
                         sinceEpoch)
                         .count();
  return kUnixEpochAsFileTime + static_cast<std::uint64_t>(ticks);
}

TelemetryThrottlerV1::TelemetryThrottlerV1(oru::RefPtr<oru::ITracer> tracer,
                                           const std::shared_ptr<IThrottlerSettingsSource>& source, Clock clock)
    : m_tracer(std::move(tracer)), m_clock(std::move(clock)) {
  SENDARA_CONTRACT(source != nullptr, "settings source");
  SENDARA_CONTRACT(static_cast<bool>(m_clock), "clock");
  m_settingsSubscription = source->SubscribeAndApplyThrottlerSettings(
      "sendara::base::telemetry::TelemetryThrottlerV1::TelemetryThrottlerV1",
      [this](const ThrottlerSettings& settings) { SetSettings(settings); });
}

TelemetryThrottlerV1::~TelemetryThrottlerV1() {
  if (m_settingsSubscription) m_settingsSubscription->Unsubscribe();
}

void TelemetryThrottlerV1::SetSettings(const ThrottlerSettings& settings) {
  // Without limits in use the numbers are never used: such settings must not
  // keep a client from starting.
  SENDARA_CONTRACT(!settings.useRequestCountLimits ||
                       (settings.maximumNumberOfEventsInHour > 0 && settings.numberOfEventsInBlock > 0),
                   "invalid settings, duration block equal zero");

  platform::MutexLock lock(&m_mutex);
  m_settings = settings;
  // In 64 bits: a block of a million events times 3600 overflows 32.
  m_expectedMinDuration =
      settings.maximumNumberOfEventsInHour > 0 && settings.numberOfEventsInBlock > 0
          ? static_cast<std::uint64_t>(settings.numberOfEventsInBlock) * 3600 /
                static_cast<std::uint64_t>(settings.maximumNumberOfEventsInHour) * kTicksPerSecond
          : 0;
  ReassessLocked();
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "settings = " << boost::json::serialize(SettingsJson(settings))
                              << "; expected min duration for block = " << m_expectedMinDuration / kTicksPerSecond
                              << "; spam events = " << boost::json::serialize(ToTraceJson(m_spamTable)));
}

bool TelemetryThrottlerV1::IsThrottled(std::uint32_t eventTypeId, bool throttleable) {
  try {
    platform::MutexLock lock(&m_mutex);
    if (!m_settings.useRequestCountLimits) return false;
    UpdateStatisticsLocked(eventTypeId, throttleable);
    if (!m_throttledMode || !throttleable) return false;
    const auto spam = m_spamTable.find(eventTypeId);
    if (spam == m_spamTable.end()) return false;
    // This event is already counted: occurrence n uses slot n - 1.
    const std::uint64_t occurrence = m_current.countByEvent[eventTypeId];
    return !spam->second.probability[(occurrence - 1) % 100];
  } catch (const std::exception&) {
    std::string prefix = "[";
    prefix += SENDARA_FUNCTION_NAME;
    prefix += "]";
    oru::ExceptionToResult(m_tracer.Get(), prefix);
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "skipped throttling: event id = " << ThrottlerIdText(eventTypeId));
    return false;
  }
}

bool TelemetryThrottlerV1::IsEventBlocked(std::uint32_t eventTypeId) {
  platform::MutexLock lock(&m_mutex);
  if (!m_settings.useRequestCountLimits || !m_throttledMode) return false;
  const auto spam = m_spamTable.find(eventTypeId);
  return spam != m_spamTable.end() && spam->second.percent == 0;
}

std::optional<ThrottlerStatistics> TelemetryThrottlerV1::GetPrevStatistics() {
  platform::MutexLock lock(&m_mutex);
  return m_previous;
}

void TelemetryThrottlerV1::SetPrevStatistics(const ThrottlerStatistics& statistics) {
  platform::MutexLock lock(&m_mutex);
  SetPrevStatisticsLocked(statistics);
}

void TelemetryThrottlerV1::SetPrevStatisticsLocked(const ThrottlerStatistics& statistics) {
  m_previous = statistics;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "statistics = " << boost::json::serialize(ToTraceJson(statistics)));
}

void TelemetryThrottlerV1::UpdateStatisticsLocked(std::uint32_t eventTypeId, bool throttleable) {
  if (m_current.summaryCount == 0 || m_current.finish != ThrottlerStatistics::kOpen) {
    m_current = ThrottlerStatistics{};
    m_current.start = m_clock();
    if (m_previous) {
      ReassessLocked();
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                    "throttled mode = " << (m_throttledMode ? "on" : "off") << "; actual duration for block = "
                                        << BlockDuration(*m_previous).value_or(0) / kTicksPerSecond
                                        << "; expected min duration for block = "
                                        << m_expectedMinDuration / kTicksPerSecond
                                        << "; spam events = " << boost::json::serialize(ToTraceJson(m_spamTable)));
    }
  }

  ++m_current.summaryCount;
  if (throttleable) ++m_current.countByEvent[eventTypeId];
  // At least, not exactly: a smaller block size set while a block was
  // filling must still close it.
  if (m_current.summaryCount >= static_cast<std::uint64_t>(m_settings.numberOfEventsInBlock)) {
    m_current.finish = m_clock();
    SetPrevStatisticsLocked(m_current);
  }
}

void TelemetryThrottlerV1::ReassessLocked() {
  const std::optional<std::uint64_t> duration = m_previous ? BlockDuration(*m_previous) : std::nullopt;
  m_throttledMode = duration && m_expectedMinDuration != 0 && *duration < m_expectedMinDuration;
  m_spamTable = m_throttledMode ? BuildSpamTableLocked(*m_previous) : SpamTable{};
}

SpamTable TelemetryThrottlerV1::BuildSpamTableLocked(const ThrottlerStatistics& previous) const {
  SpamTable table;
  if (previous.summaryCount == 0) return table;  // nothing to take shares of
  const std::uint64_t duration = *BlockDuration(previous);
  for (const auto& [id, count] : previous.countByEvent) {
    const std::uint64_t share = MulDivClamped(count, 100, previous.summaryCount, 100);
    if (static_cast<std::int64_t>(share) < m_settings.eventLimitExceededPercentage) continue;
    // Clamped before it is narrowed: were the share ever computed for a block
    // slower than expected, it would pass 100 and wrap into a small share.
    const auto pass = static_cast<unsigned>(MulDivClamped(100 - share, duration, m_expectedMinDuration, 100));
    table[id] = SpamEvent{static_cast<std::uint8_t>(pass), pattern(pass)};
  }
  return table;
}

}  // namespace sendara::base::telemetry
