#include "component/sendara/edr_telemetry/source/client/filtration/operators/in.h"

namespace sendara::edr_telemetry::filtration {

bool In::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  return SameKindAndValue(eventValue, constant);
}

}  // namespace sendara::edr_telemetry::filtration
