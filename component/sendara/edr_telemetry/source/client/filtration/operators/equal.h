#pragma once

#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/operators/binary_node.h"

namespace sendara::edr_telemetry::filtration {

// A whole-number field equals a whole-number constant with the same 64-bit pattern (a signed -1 equals 18446744073709551615); other values must be of the same kind and equal.
class Equal final : public BinaryNode {
 public:
  Equal(std::string_view path, FilterType operand, bool negate)
      : BinaryNode(path, std::move(operand), negate) {}

  bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const override;
};

}  // namespace sendara::edr_telemetry::filtration
