#include "component/sendara/edr_telemetry/source/client/filtration/operators/bit_and.h"

namespace sendara::edr_telemetry::filtration {

bool BitAnd::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  return IsWholeNumber(eventValue) && IsWholeNumber(constant) &&
         (BitsOf(eventValue) & BitsOf(constant)) != 0;
}

}  // namespace sendara::edr_telemetry::filtration
