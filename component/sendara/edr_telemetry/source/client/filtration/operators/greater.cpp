#include "component/sendara/edr_telemetry/source/client/filtration/operators/greater.h"

namespace sendara::edr_telemetry::filtration {

bool Greater::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  const auto order = CompareWholeNumbers(eventValue, constant);
  return order && *order > 0;
}

}  // namespace sendara::edr_telemetry::filtration
