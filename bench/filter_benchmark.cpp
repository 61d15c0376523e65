// What filtering costs per event, next to what parsing the event costs:
// the drop test with 50 typical rules should stay below the parse.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/json/parse.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operator_type.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_filter.h"
#include "sample_event.h"

namespace {

using namespace sendara::edr_telemetry;

// Fifty rules of the kinds administrators write, none of which matches the
// event above: the drop test evaluates every one of them.
std::string FiftyRules() {
  const std::vector<std::string> expressions = {
      R"({"operator": "==", "operands": ["process.name", "svchost.exe"]})",
      R"({"operator": "iequal", "operands": ["process.name", "MsMpEng.exe"]})",
      R"({"operator": "in", "operands": ["eventType", "FileCreate", "FileDelete", "RegistrySet"]})",
      R"({"operator": "like", "operands": ["process.path", "C:\\Program Files\\Backup*\\*.exe"]})",
      R"({"operator": "contains", "operands": ["process.commandLine", "--update-check"]})",
      R"({"operator": "and", "operands": [
           {"operator": "==", "operands": ["parent.name", "services.exe"]},
           {"operator": "like", "operands": ["process.path", "*\\System32\\svchost.exe"]}]})",
      R"({"operator": "or", "operands": [
           {"operator": "==", "operands": ["process.user.name", "SYSTEM"]},
           {"operator": "in like", "operands": ["hostName", "SRV-*", "DC-*"]}]})",
      R"({"operator": "and", "operands": [
           {"operator": "==", "operands": ["network.remotePort", 443]},
           {"operator": "not", "operands": [{"operator": "exists", "operands": ["process.signature"]}]}]})",
      R"({"operator": "and", "operands": [
           {"operator": ">=", "operands": ["severity", 5]},
           {"operator": "bit and", "operands": ["flags", 64]}]})",
      R"({"operator": "or", "operands": [
           {"operator": "contains", "operands": ["parent.commandLine", "\\AppData\\Local\\Temp\\"]},
           {"operator": "and", "operands": [
              {"operator": "iequal", "operands": ["parent.name", "explorer.exe"]},
              {"operator": "like", "operands": ["process.name", "update*.exe"]}]}]})",
  };
  std::string document = R"({"rules": [)";
  for (int i = 0; i < 50; ++i) {
    if (i) document += ",";
    document += R"({"enable": true, "name": "rule )" + std::to_string(i) +
                R"(", "action": {"actionType": "dropEvent"}, "filterExpression": )" +
                expressions[i % expressions.size()] + "}";
  }
  return document + "]}";
}

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
  ConvertToExclusionRulesFromString(nullptr, sendara::base::ToUtf16(FiftyRules()), settings.excludeRules,
                                    nullptr);
  if (settings.excludeRules.dropRules.size() != 50) {
    state.SkipWithError("the rules did not build");
    return;
  }
  auto provider = std::make_shared<EdrTelemetryClientSettingsProvider>(nullptr, settings);
  const TelemetryFilter filter(nullptr, provider);
  const boost::json::value event = boost::json::parse(bench::kEvent);
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.IsDropFiltered(event));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DropTest50Rules);

void BM_BuildRules50(benchmark::State& state) {
  const std::u16string document = sendara::base::ToUtf16(FiftyRules());
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
