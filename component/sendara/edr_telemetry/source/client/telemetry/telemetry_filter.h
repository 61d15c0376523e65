#pragma once

#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_filter.h"

namespace sendara::edr_telemetry {

// The filtering state of one client, following its settings: excluded and
// allowed event types, the tagged-only switch and the exclusion rules.
// Queries run concurrently under a shared lock; a settings change swaps the
// whole state under the exclusive lock, so a query sees old or new, never a
// mix.
class TelemetryFilter final : public ITelemetryFilter {
 public:
  using EventTypes = std::optional<std::vector<std::u16string>>;

  // Subscribes to the provider's changes, then applies its current settings.
  TelemetryFilter(oru::RefPtr<oru::ITracer> tracer,
                  const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& provider);
  ~TelemetryFilter() override;

  // Raises sendara_exception "Not initialized" until settings with excluded
  // event types have been applied. The excluded list wins over the allowed
  // one; a present but empty allowed list drops every type.
  bool IsEventTypeFiltered(std::u16string_view eventType) const override;
  // True at the first drop rule that matches; a rule that fails on the event
  // is skipped.
  bool IsDropFiltered(const boost::json::value& event) const override;
  // Applies the first matching remove-all rule, or else every matching
  // remove rule, then answers the tag test on the changed list.
  bool IsIoaFiltered(const boost::json::value& event, std::vector<Ioa>& ioas) const override;
  // With the tagged-only switch on, an event without a markable IOA drops.
  bool IsTagFiltered(const std::vector<Ioa>& ioas) const override;

  void SetFilters(ExclusionRules rules, bool onlyTaggedEvents, const EventTypes& excludedEventTypes,
                  const EventTypes& allowedEventTypes);

 private:
  // The tag test for callers that already hold the lock (shared or not):
  // std::shared_mutex must not be taken twice by one thread.
  bool IsTagFilteredLocked(const std::vector<Ioa>& ioas) const;
  void CustomizeIoas(const ExclusionRule& rule, std::vector<Ioa>& ioas) const;
  void Apply(const EdrTelemetryClientSettings& settings);

  const oru::RefPtr<oru::ITracer> m_tracer;
  mutable std::shared_mutex m_lock;
  std::vector<ExclusionRule> m_dropRules;
  std::vector<ExclusionRule> m_removeAllIoaRules;
  std::vector<ExclusionRule> m_removeIoaRules;
  bool m_onlyTaggedEvents = false;
  EventTypes m_excludedEventTypes;
  EventTypes m_allowedEventTypes;
  // Last: dropped first, so that no settings callback runs into a
  // half-destroyed filter.
  std::shared_ptr<base::ISubscription> m_subscription;
};

}  // namespace sendara::edr_telemetry
