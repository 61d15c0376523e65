#include "component/sendara/edr_telemetry/source/client/filtration/operators/equal.h"

namespace sendara::edr_telemetry::filtration {

bool Equal::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  if (IsWholeNumber(eventValue)) {
    return IsWholeNumber(constant) && BitsOf(eventValue) == BitsOf(constant);
  }
  return SameKindAndValue(eventValue, constant);
}

}  // namespace sendara::edr_telemetry::filtration
