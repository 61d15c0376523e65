#pragma once

#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/operators/binary_node.h"

namespace sendara::edr_telemetry::filtration {

// Strings only: the constant occurs in the field (an empty constant always does).
class Contains final : public BinaryNode {
 public:
  Contains(std::string_view path, FilterType operand, bool negate)
      : BinaryNode(path, std::move(operand), negate) {}

  bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const override;
};

}  // namespace sendara::edr_telemetry::filtration
