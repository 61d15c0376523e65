#include "component/sendara/edr_telemetry/source/client/filtration/operators/nary_node.h"

#include <boost/json/object.hpp>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"

namespace sendara::edr_telemetry::filtration {

NaryNode::NaryNode(std::string_view path, std::vector<FilterType> operands, bool negate)
    : m_path(path), m_operands(std::move(operands)), m_negate(negate) {}

bool NaryNode::Evaluate(const boost::json::value& event) const {
  if (event.is_null()) return m_negate;
  const boost::json::object* root = event.if_object();
  SENDARA_CHECK(root != nullptr, base::invalid_json_exception, oru::rc::InvalidType,
                "event is not an object");
  const boost::json::value* field = root->if_contains(m_path);
  if (!field || field->is_null()) return m_negate;
  const FilterTypeView value = ConvertJsonToFilterType(*field);
  for (const FilterType& operand : m_operands) {
    if (Compare(value, operand)) return !m_negate;
  }
  return m_negate;
}

}  // namespace sendara::edr_telemetry::filtration
