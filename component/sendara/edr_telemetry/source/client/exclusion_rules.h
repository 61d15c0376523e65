#pragma once

#include <vector>

#include "component/sendara/edr_telemetry/source/client/exclusion_rule.h"

namespace sendara::edr_telemetry {

// The enabled exclusion rules, one list per action kind, each in the order
// the rules arrived.
struct ExclusionRules {
  std::vector<ExclusionRule> dropRules;
  std::vector<ExclusionRule> removeAllIoaRules;
  std::vector<ExclusionRule> removeIoaRules;
};

}  // namespace sendara::edr_telemetry
