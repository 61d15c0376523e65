#include "component/sendara/edr_telemetry/source/client/filtration/operators/in_like.h"

#include "component/sendara/edr_telemetry/source/client/filtration/match_like.h"

namespace sendara::edr_telemetry::filtration {

bool InLike::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  const auto texts = BothStrings(eventValue, constant);
  return texts && MatchLike(texts->first, texts->second);
}

}  // namespace sendara::edr_telemetry::filtration
