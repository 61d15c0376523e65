#include "component/sendara/edr_telemetry/source/client/filtration/operators/binary_node.h"

namespace sendara::edr_telemetry::filtration {

BinaryNode::BinaryNode(std::string_view path, FilterType operand, bool negate)
    : m_path(path), m_operand(std::move(operand)), m_negate(negate) {}

bool BinaryNode::Evaluate(const boost::json::value& event) const {
  const boost::json::value* field = m_path.Find(event);
  if (!field) return m_negate;
  return Compare(ConvertJsonToFilterType(*field), m_operand) != m_negate;
}

}  // namespace sendara::edr_telemetry::filtration
