#include "component/sendara/edr_telemetry/source/client/filtration/field_path.h"

#include <boost/json/object.hpp>

namespace sendara::edr_telemetry::filtration {

FieldPath::FieldPath(std::string_view path) : m_text(path) {
  std::size_t begin = 0;
  for (;;) {
    const std::size_t dot = path.find('.', begin);
    m_components.emplace_back(path.substr(begin, dot == std::string_view::npos ? dot : dot - begin));
    if (dot == std::string_view::npos) break;
    begin = dot + 1;
  }
}

const boost::json::value* FieldPath::Find(const boost::json::value& event) const noexcept {
  const boost::json::value* current = &event;
  for (const std::string& component : m_components) {
    const boost::json::object* object = current->if_object();
    if (!object) return nullptr;
    current = object->if_contains(component);
    if (!current || current->is_null()) return nullptr;
  }
  return current;
}

}  // namespace sendara::edr_telemetry::filtration
