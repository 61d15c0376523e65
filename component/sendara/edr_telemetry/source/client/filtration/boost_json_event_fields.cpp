#include "component/sendara/edr_telemetry/source/client/filtration/boost_json_event_fields.h"

#include <boost/json/object.hpp>

namespace sendara::edr_telemetry::filtration {

EventFields::Root BoostJsonEventFields::RootKind() const noexcept {
  if (m_event->is_object()) return Root::kObject;
  return m_event->is_null() ? Root::kNull : Root::kOther;
}

bool BoostJsonEventFields::Contains(std::span<const std::string> path) const noexcept {
  return Find(path) != nullptr;
}

std::optional<FilterTypeView> BoostJsonEventFields::Value(std::span<const std::string> path) const {
  const boost::json::value* found = Find(path);
  if (!found) return std::nullopt;
  return ConvertJsonToFilterType(*found);
}

const boost::json::value* BoostJsonEventFields::Find(std::span<const std::string> path) const noexcept {
  // A parse keeps the last of members with equal names; if_contains finds it.
  const boost::json::value* current = m_event;
  for (const std::string& name : path) {
    const boost::json::object* object = current->if_object();
    if (!object) return nullptr;
    current = object->if_contains(name);
    if (!current || current->is_null()) return nullptr;
  }
  return current;
}

}  // namespace sendara::edr_telemetry::filtration
