#pragma once

#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/operators/nary_node.h"

namespace sendara::edr_telemetry::filtration {

// Same kind and equal value, with no crossing between signed and unsigned.
class In final : public NaryNode {
 public:
  In(std::string_view path, std::vector<FilterType> operands, bool negate)
      : NaryNode(path, std::move(operands), negate) {}

  bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const override;
};

}  // namespace sendara::edr_telemetry::filtration
