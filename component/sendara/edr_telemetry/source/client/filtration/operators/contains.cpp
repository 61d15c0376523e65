#include "component/sendara/edr_telemetry/source/client/filtration/operators/contains.h"

namespace sendara::edr_telemetry::filtration {

bool Contains::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  const auto texts = BothStrings(eventValue, constant);
  return texts && texts->first.find(texts->second) != std::string_view::npos;
}

}  // namespace sendara::edr_telemetry::filtration
