#include "component/sendara/edr_telemetry/source/client/filtration/field_path.h"

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

}  // namespace sendara::edr_telemetry::filtration
