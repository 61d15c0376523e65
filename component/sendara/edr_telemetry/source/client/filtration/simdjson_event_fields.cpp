#include "component/sendara/edr_telemetry/source/client/filtration/simdjson_event_fields.h"

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::edr_telemetry::filtration {

using simdjson::dom::element;
using simdjson::dom::element_type;

EventFields::Root SimdjsonEventFields::RootKind() const noexcept {
  switch (m_event.type()) {
    case element_type::OBJECT: return Root::kObject;
    case element_type::NULL_VALUE: return Root::kNull;
    default: return Root::kOther;
  }
}

bool SimdjsonEventFields::Contains(std::span<const std::string> path) const noexcept {
  return Find(path).has_value();
}

std::optional<FilterTypeView> SimdjsonEventFields::Value(std::span<const std::string> path) const {
  const std::optional<element> found = Find(path);
  if (!found) return std::nullopt;
  return Convert(*found);
}

FilterTypeView SimdjsonEventFields::Convert(element value) {
  switch (value.type()) {
    case element_type::STRING: return value.get_string().value_unsafe();
    case element_type::UINT64: return value.get_uint64().value_unsafe();
    case element_type::INT64: {
      const std::int64_t number = value.get_int64().value_unsafe();
      if (number >= 0) return static_cast<std::uint64_t>(number);
      return number;
    }
    case element_type::BOOL: return value.get_bool().value_unsafe();
    case element_type::DOUBLE: return EventNumberToFilterType(value.get_double().value_unsafe());
    default:
      base::ThrowCheckFailed<base::sendara_exception>(oru::rc::NotMatched, SENDARA_FUNCTION_NAME, __FILE__, __LINE__,
                                                      "unexpected json content");
  }
}

std::optional<element> SimdjsonEventFields::Find(std::span<const std::string> path) const noexcept {
  element current = m_event;
  for (const std::string& name : path) {
    if (current.type() != element_type::OBJECT) return std::nullopt;
    // The document keeps every member as written: the last of equal names
    // is the one a parse that keeps one member per name keeps.
    std::optional<element> found;
    const simdjson::dom::object object = current.get_object().value_unsafe();
    for (const simdjson::dom::key_value_pair member : object) {
      if (member.key == name) found = member.value;
    }
    if (!found || found->type() == element_type::NULL_VALUE) return std::nullopt;
    current = *found;
  }
  return current;
}

}  // namespace sendara::edr_telemetry::filtration
