#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rules_json.h"

#include <boost/json/array.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"

namespace sendara::edr_telemetry {
namespace {

boost::json::object ActionToJson(const RuleAction& action) {
  boost::json::object out;
  if (std::holds_alternative<DropEvent>(action)) {
    out["type"] = "DropEvent";
  } else if (std::holds_alternative<RemoveAllIoaAction>(action)) {
    out["type"] = "RemoveAllIoaAction";
  } else {
    out["type"] = "RemoveIoaAction";
    boost::json::array guids;
    for (const std::string& guid : std::get<RemoveIoaAction>(action).guids) guids.emplace_back(guid);
    out["guids"] = std::move(guids);
  }
  return out;
}

boost::json::array RulesToJson(const std::vector<ExclusionRule>& rules) {
  boost::json::array out;
  out.reserve(rules.size());
  for (const ExclusionRule& rule : rules) out.emplace_back(ToTraceJson(rule));
  return out;
}

}  // namespace

boost::json::object ToTraceJson(const ExclusionRule& rule) {
  boost::json::object out;
  out["enable"] = rule.enable;
  out["name"] = base::ToUtf8(rule.name);
  out["action"] = ActionToJson(rule.action);
  out["filterExpression"] = "<expression>";
  return out;
}

boost::json::object ToTraceJson(const ExclusionRules& rules) {
  boost::json::object out;
  out["dropRules"] = RulesToJson(rules.dropRules);
  out["removeAllIoaRules"] = RulesToJson(rules.removeAllIoaRules);
  out["removeIoaRules"] = RulesToJson(rules.removeIoaRules);
  return out;
}

}  // namespace sendara::edr_telemetry
