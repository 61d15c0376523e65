#pragma once

#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/operators/binary_node.h"

namespace sendara::edr_telemetry::filtration {

// Strings only: equal after upper-casing ASCII letters (no other folding).
class IEqual final : public BinaryNode {
 public:
  IEqual(std::string_view path, FilterType operand, bool negate)
      : BinaryNode(path, std::move(operand), negate) {}

  bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const override;
};

}  // namespace sendara::edr_telemetry::filtration
