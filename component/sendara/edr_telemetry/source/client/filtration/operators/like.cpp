#include "component/sendara/edr_telemetry/source/client/filtration/operators/like.h"

#include "component/sendara/edr_telemetry/source/client/filtration/match_like.h"

namespace sendara::edr_telemetry::filtration {

bool Like::Compare(const FilterTypeView& eventValue, const FilterType& constant) const {
  const auto texts = BothStrings(eventValue, constant);
  return texts && MatchLike(texts->first, texts->second);
}

}  // namespace sendara::edr_telemetry::filtration
