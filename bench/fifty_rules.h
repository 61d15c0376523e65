#pragma once

#include <string>
#include <vector>

namespace bench {

// Fifty rules of the kinds administrators write, none of which matches the
// sample event: the drop test evaluates every one of them.
inline std::string FiftyRules() {
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

}  // namespace bench
