#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"
#include "component/sendara/edr_telemetry/source/client/filtration/filter_type.h"

namespace sendara::edr_telemetry::filtration {

// A leaf comparing one field with a list of constants: true at the first
// constant that compares true (inverted when negated). Unlike the other
// leaves, the field is the member of the event's root named by the whole
// path: a "." is part of the name.
class NaryNode : public FilterNode {
 public:
  NaryNode(std::string_view path, std::vector<FilterType> operands, bool negate);

  bool Evaluate(const EventFields& event) const override;
  virtual bool Compare(const FilterTypeView& eventValue, const FilterType& constant) const = 0;

 private:
  std::string m_path;
  std::vector<FilterType> m_operands;
  bool m_negate;
};

}  // namespace sendara::edr_telemetry::filtration
