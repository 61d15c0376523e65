#include "component/sendara/edr_telemetry/source/client/filtration/operators/i_equal.h"

#include "component/sendara/edr_telemetry/source/client/filtration/ascii.h"

namespace sendara::edr_telemetry::filtration {

bool IEqual::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  const auto texts = BothStrings(eventValue, constant);
  if (!texts || texts->first.size() != texts->second.size()) return false;
  for (std::size_t i = 0; i < texts->first.size(); ++i) {
    if (UpperAscii(texts->first[i]) != UpperAscii(texts->second[i])) return false;
  }
  return true;
}

}  // namespace sendara::edr_telemetry::filtration
