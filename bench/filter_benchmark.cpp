// What filtering costs per event, next to what parsing the event costs:
// the drop test with 50 typical rules should stay below the parse.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/json/parse.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/sendara/edr_telemetry/source/client/filtration/boost_json_event_fields.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operator_type.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_filter.h"
#include "fifty_rules.h"
#include "sample_event.h"

namespace {

using namespace sendara::edr_telemetry;

void BM_ParseEvent(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(boost::json::parse(bench::kEvent));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bench::kEvent.size()));
}
BENCHMARK(BM_ParseEvent);

void BM_DropTest50Rules(benchmark::State& state) {
  EdrTelemetryClientSettings settings;
  settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:514"});
  ConvertToExclusionRulesFromString(nullptr, sendara::base::ToUtf16(bench::FiftyRules()), settings.excludeRules,
                                    nullptr);
  if (settings.excludeRules.dropRules.size() != 50) {
    state.SkipWithError("the rules did not build");
    return;
  }
  auto provider = std::make_shared<EdrTelemetryClientSettingsProvider>(nullptr, settings);
  const TelemetryFilter filter(nullptr, provider);
  const boost::json::value event = boost::json::parse(bench::kEvent);
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.IsDropFiltered(filtration::BoostJsonEventFields(event)));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DropTest50Rules);

void BM_BuildRules50(benchmark::State& state) {
  const std::u16string document = sendara::base::ToUtf16(bench::FiftyRules());
  for (auto _ : state) {
    ExclusionRules rules;
    ConvertToExclusionRulesFromString(nullptr, document, rules, nullptr);
    benchmark::DoNotOptimize(rules);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildRules50);

void BM_ParseOperator(benchmark::State& state) {
  const std::vector<std::string> names = {"and", "==", "In", "not in like", "contains", "NOT  IN"};
  for (auto _ : state) {
    for (const auto& name : names) benchmark::DoNotOptimize(filtration::ParseOperator(name));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(names.size()));
}
BENCHMARK(BM_ParseOperator);

}  // namespace
