#pragma once

#include <string_view>

#include "component/sendara/edr_telemetry/source/client/filtration/field_path.h"
#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"

namespace sendara::edr_telemetry::filtration {

// Whether the field is there (not there, when negated). A member holding
// JSON null is not there.
class Exists final : public FilterNode {
 public:
  Exists(std::string_view path, bool negate) : m_path(path), m_negate(negate) {}

  bool Evaluate(const EventFields& event) const override {
    return event.Contains(m_path.Components()) != m_negate;
  }

 private:
  FieldPath m_path;
  bool m_negate;
};

}  // namespace sendara::edr_telemetry::filtration
