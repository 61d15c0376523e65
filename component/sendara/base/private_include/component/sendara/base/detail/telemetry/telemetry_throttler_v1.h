#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/base/detail/telemetry/i_telemetry_throttler.h"
#include "component/sendara/base/detail/telemetry/i_throttler_settings_source.h"
#include "component/sendara/base/detail/telemetry/spam_event.h"
#include "component/sendara/base/detail/telemetry/throttler_settings.h"

namespace sendara::base::telemetry {

// Counts events in blocks of numberOfEventsInBlock. A block that filled up
// faster than the permitted rate allows turns throttled mode on for the next
// block: each event type that made up at least eventLimitExceededPercentage
// of it passes only for a share of its occurrences, chosen by its pattern.
class TelemetryThrottlerV1 final : public ITelemetryThrottler {
 public:
  // File time now: 100-ns units since 1601-01-01 UTC. Replaceable for tests.
  using Clock = std::function<std::uint64_t()>;
  static std::uint64_t SystemFileTime();

  TelemetryThrottlerV1(oru::RefPtr<oru::ITracer> tracer, const std::shared_ptr<IThrottlerSettingsSource>& source,
                       Clock clock = &SystemFileTime);
  ~TelemetryThrottlerV1() override;

  bool IsThrottled(std::uint32_t eventTypeId, bool throttleable) override EXCLUDES(m_mutex);
  bool IsEventBlocked(std::uint32_t eventTypeId) override EXCLUDES(m_mutex);
  std::optional<ThrottlerStatistics> GetPrevStatistics() override EXCLUDES(m_mutex);
  void SetPrevStatistics(const ThrottlerStatistics& statistics) override EXCLUDES(m_mutex);

  // Raises contract_exception "invalid settings, duration block equal zero"
  // for limits that cannot be applied (a rate or block size not above 0
  // while limits are in use); the former settings stay.
  void SetSettings(const ThrottlerSettings& settings) EXCLUDES(m_mutex);

 private:
  // The steps below expect the lock held.
  void UpdateStatisticsLocked(std::uint32_t eventTypeId, bool throttleable) REQUIRES(m_mutex);
  void SetPrevStatisticsLocked(const ThrottlerStatistics& statistics) REQUIRES(m_mutex);
  // Throttled mode and the spam table from the previous block and the
  // current settings.
  void ReassessLocked() REQUIRES(m_mutex);
  SpamTable BuildSpamTableLocked(const ThrottlerStatistics& previous) const REQUIRES(m_mutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const Clock m_clock;
  platform::Mutex m_mutex;
  std::uint64_t m_expectedMinDuration GUARDED_BY(m_mutex) = 0;
  ThrottlerSettings m_settings GUARDED_BY(m_mutex);
  bool m_throttledMode GUARDED_BY(m_mutex) = false;
  ThrottlerStatistics m_current GUARDED_BY(m_mutex);
  std::optional<ThrottlerStatistics> m_previous GUARDED_BY(m_mutex);
  SpamTable m_spamTable GUARDED_BY(m_mutex);
  // Last: dropped first, so that no settings callback meets a half-destroyed
  // throttler.
  std::shared_ptr<ISubscription> m_settingsSubscription;
};

}  // namespace sendara::base::telemetry
