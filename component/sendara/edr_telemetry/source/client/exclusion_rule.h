#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"

namespace sendara::edr_telemetry {

// The event is not sent.
struct DropEvent {};
// Every IOA of the event loses its mark.
struct RemoveAllIoaAction {};
// The IOAs with one of these GUIDs (lower-cased) lose their mark.
struct RemoveIoaAction {
  std::vector<std::string> guids;
};

using RuleAction = std::variant<DropEvent, RemoveAllIoaAction, RemoveIoaAction>;

// One exclusion rule: what a match does, and when the event matches.
struct ExclusionRule {
  bool enable = false;
  std::u16string name;
  RuleAction action;
  std::shared_ptr<const filtration::FilterNode> filterExpression;
};

}  // namespace sendara::edr_telemetry
