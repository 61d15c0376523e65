#include "component/sendara/edr_telemetry/source/client/filtration/operators/greater_equal.h"

namespace sendara::edr_telemetry::filtration {

bool GreaterEqual::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  const auto order = CompareWholeNumbers(eventValue, constant);
  return order && *order >= 0;
}

}  // namespace sendara::edr_telemetry::filtration
