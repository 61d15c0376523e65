#pragma once

#include <string_view>

#include "component/sendara/edr_telemetry/source/client/filtration/field_path.h"
#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"
#include "component/sendara/edr_telemetry/source/client/filtration/filter_type.h"

namespace sendara::edr_telemetry::filtration {

// A leaf comparing one field of the event with one rule constant. A missing
// field gives `negate`; otherwise the comparison, inverted when negated.
class BinaryNode : public FilterNode {
 public:
  BinaryNode(std::string_view path, FilterType operand, bool negate);

  bool Evaluate(const EventFields& event) const override;
  // The leaf's own comparison of the event's value with the constant. A
  // type mismatch is never an error: it is false.
  virtual bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const = 0;

 private:
  FieldPath m_path;
  FilterType m_operand;
  bool m_negate;
};

}  // namespace sendara::edr_telemetry::filtration
