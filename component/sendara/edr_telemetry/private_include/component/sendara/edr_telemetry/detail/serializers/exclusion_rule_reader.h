#pragma once

#include <boost/json/value.hpp>

#include "component/sendara/edr_telemetry/source/client/exclusion_rule.h"
#include "component/sendara/edr_telemetry/source/client/filtration/i_ast_builder.h"

namespace sendara::edr_telemetry {

// Reads one rule object of a rules document: "enable" (bool), "name"
// (string), "action" {"actionType": "dropEvent" | "removeAllIoa" |
// "removeIoa", with "guids" for the last}, "filterExpression" (an expression
// object, built with `builder`). Raises on the first member that does not fit;
// GUIDs are lower-cased (ASCII letters only).
ExclusionRule rule_from_json(const boost::json::value& rule, const filtration::IAstBuilder& builder);

}  // namespace sendara::edr_telemetry
