#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_filter.h"

namespace sendara::edr_telemetry {

// The filtering state of one client, following its settings: excluded and
// allowed event types, the tagged-only switch and the exclusion rules.
// A settings change builds a new state and swaps it in whole; each query
// works on the state it found, so it sees old or new, never a mix. Queries
// hold no lock while they evaluate: event threads can neither starve a
// settings change nor be blocked by one for longer than the swap.
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
  bool IsDropFiltered(const filtration::EventFields& event) const override;
  // Applies the first matching remove-all rule, or else every matching
  // remove rule, then answers the tag test on the changed list.
  bool IsIoaFiltered(const filtration::EventFields& event, std::vector<Ioa>& ioas) const override;
  // With the tagged-only switch on, an event without a markable IOA drops.
  bool IsTagFiltered(const std::vector<Ioa>& ioas) const override;

  void SetFilters(ExclusionRules rules, bool onlyTaggedEvents, const EventTypes& excludedEventTypes,
                  const EventTypes& allowedEventTypes) EXCLUDES(m_stateMutex);

 private:
  struct State {
    std::vector<ExclusionRule> dropRules;
    std::vector<ExclusionRule> removeAllIoaRules;
    std::vector<ExclusionRule> removeIoaRules;
    bool onlyTaggedEvents = false;
    // Sorted, for binary search.
    EventTypes excludedEventTypes;
    EventTypes allowedEventTypes;
  };

  std::shared_ptr<const State> Snapshot() const EXCLUDES(m_stateMutex);
  static bool IsTagFiltered(const State& state, const std::vector<Ioa>& ioas);
  void CustomizeIoas(const ExclusionRule& rule, std::vector<Ioa>& ioas) const;
  void Apply(const EdrTelemetryClientSettings& settings);

  const oru::RefPtr<oru::ITracer> m_tracer;
  mutable platform::Mutex m_stateMutex;
  std::shared_ptr<const State> m_state GUARDED_BY(m_stateMutex) = std::make_shared<const State>();
  // Last: dropped first, so that no settings callback runs into a
  // half-destroyed filter.
  std::shared_ptr<base::ISubscription> m_subscription;
};

}  // namespace sendara::edr_telemetry
