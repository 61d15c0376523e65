#pragma once

#include <boost/json/object.hpp>

#include "component/sendara/edr_telemetry/source/client/exclusion_rule.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules.h"

namespace sendara::edr_telemetry {

// The trace form of rules: {"dropRules": [...], "removeAllIoaRules": [...],
// "removeIoaRules": [...]}, each rule as {"enable", "name", "action",
// "filterExpression": "<expression>"} (the tree itself is never written) and
// each action as {"type": "DropEvent" | "RemoveAllIoaAction" |
// "RemoveIoaAction"}, the last with its "guids".
boost::json::object ToTraceJson(const ExclusionRules& rules);
boost::json::object ToTraceJson(const ExclusionRule& rule);

}  // namespace sendara::edr_telemetry
