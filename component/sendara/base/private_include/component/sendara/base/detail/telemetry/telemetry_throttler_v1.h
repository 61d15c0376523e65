#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
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

  bool IsThrottled(std::uint32_t eventTypeId, bool throttleable) override;
  bool IsEventBlocked(std::uint32_t eventTypeId) override;
  std::optional<ThrottlerStatistics> GetPrevStatistics() override;
  void SetPrevStatistics(const ThrottlerStatistics& statistics) override;

  // Raises contract_exception "invalid settings, duration block equal zero"
  // for limits that cannot be applied (a rate or block size not above 0
  // while limits are in use); the former settings stay.
  void SetSettings(const ThrottlerSettings& settings);

 private:
  // The steps below expect the lock held.
  void UpdateStatisticsLocked(std::uint32_t eventTypeId, bool throttleable);
  void SetPrevStatisticsLocked(const ThrottlerStatistics& statistics);
  // Throttled mode and the spam table from the previous block and the
  // current settings.
  void ReassessLocked();
  SpamTable BuildSpamTableLocked(const ThrottlerStatistics& previous) const;

  const oru::RefPtr<oru::ITracer> m_tracer;
  const Clock m_clock;
  std::mutex m_mutex;
  std::uint64_t m_expectedMinDuration = 0;
  ThrottlerSettings m_settings;
  bool m_throttledMode = false;
  ThrottlerStatistics m_current;
  std::optional<ThrottlerStatistics> m_previous;
  SpamTable m_spamTable;
  // Last: dropped first, so that no settings callback meets a half-destroyed
  // throttler.
  std::shared_ptr<ISubscription> m_settingsSubscription;
};

}  // namespace sendara::base::telemetry
