#include "component/sendara/edr_telemetry/source/client/filtration/operators/and.h"

namespace sendara::edr_telemetry::filtration {

bool And::Evaluate(const EventFields& event) const {
  for (const auto& child : m_children) {
    if (!child->Evaluate(event)) return false;
  }
  return true;
}

}  // namespace sendara::edr_telemetry::filtration
