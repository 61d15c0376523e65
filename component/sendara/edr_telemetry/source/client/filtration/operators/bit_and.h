#pragma once

#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/operators/binary_node.h"

namespace sendara::edr_telemetry::filtration {

// Whole numbers only: the two 64-bit patterns share a set bit.
class BitAnd final : public BinaryNode {
 public:
  BitAnd(std::string_view path, FilterType operand, bool negate)
      : BinaryNode(path, std::move(operand), negate) {}

  bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const override;
};

}  // namespace sendara::edr_telemetry::filtration
