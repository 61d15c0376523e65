#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rule_reader.h"

#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ascii.h"

namespace sendara::edr_telemetry {
namespace {

using base::invalid_json_exception;
using base::sendara_exception;

// A check failure of `E` with "Invalid argument", the check text and one more
// property.
template <class E>
[[noreturn]] void Refuse(std::string_view function, int line, std::string_view message,
                         std::string_view property = {}, std::string value = {}) {
  E exception(oru::rc::InvalidArgument, "[" + std::string(function) + "] failed expression", __FILE__,
              line);
  exception.SetProperty(oru::property::kAdditionalInfo, std::string(message));
  if (!property.empty()) exception.SetProperty(property, std::move(value));
  base::ThrowNested(std::move(exception));
}

#define REFUSE(exception_class, ...) Refuse<exception_class>(SENDARA_FUNCTION_NAME, __LINE__, __VA_ARGS__)

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

ExclusionRule rule_from_json(const boost::json::value& rule, const filtration::IAstBuilder& builder) {
  const boost::json::object* object = rule.if_object();
  const auto member = [object](std::string_view name) -> const boost::json::value* {
    return object ? object->if_contains(name) : nullptr;
  };

  ExclusionRule out;
  const boost::json::value* enable = member("enable");
  if (!enable || !enable->is_bool()) REFUSE(invalid_json_exception, "not valid json", "field_name", "enable");
  out.enable = enable->get_bool();

  const boost::json::value* name = member("name");
  if (!name || !name->is_string()) REFUSE(invalid_json_exception, "not valid json", "field_name", "name");
  out.name = base::ToUtf16(name->get_string());

  const boost::json::value* action = member("action");
  const boost::json::value* actionType =
      action && action->is_object() ? action->get_object().if_contains("actionType") : nullptr;
  if (!actionType) REFUSE(sendara_exception, "action field is missing");
  if (!actionType->is_string()) {
    REFUSE(invalid_json_exception, "unexpected, not a string type", "json", boost::json::serialize(*actionType));
  }

  const std::string_view type = actionType->get_string();
  if (type == "dropEvent") {
    out.action = DropEvent{};
  } else if (type == "removeAllIoa") {
    out.action = RemoveAllIoaAction{};
  } else if (type == "removeIoa") {
    const boost::json::value* guids = action->get_object().if_contains("guids");
    if (!guids || !guids->is_array()) REFUSE(invalid_json_exception, "not valid json", "field_name", "guids");
    RemoveIoaAction remove;
    remove.guids.reserve(guids->get_array().size());
    for (const boost::json::value& guid : guids->get_array()) {
      if (!guid.is_string()) REFUSE(invalid_json_exception, "not valid json", "field_name", "guids");
      remove.guids.push_back(LowerAscii(guid.get_string()));
    }
    out.action = std::move(remove);
  } else {
    REFUSE(sendara_exception, "invalid actionType field value");
  }

  const boost::json::value* expression = member("filterExpression");
  if (!expression || !expression->is_object()) {
    REFUSE(sendara_exception, "field not found or not 'object': field = filterExpression");
  }
  out.filterExpression = builder.Build(*expression);
  return out;
}

}  // namespace sendara::edr_telemetry
