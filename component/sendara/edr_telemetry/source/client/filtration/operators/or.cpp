#include "component/sendara/edr_telemetry/source/client/filtration/operators/or.h"

namespace sendara::edr_telemetry::filtration {

bool Or::Evaluate(const EventFields& event) const {
  for (const auto& child : m_children) {
    if (child->Evaluate(event)) return true;
  }
  return false;
}

}  // namespace sendara::edr_telemetry::filtration
