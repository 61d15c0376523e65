#include "component/sendara/edr_telemetry/source/client/filtration/operators/binary_node.h"

namespace sendara::edr_telemetry::filtration {

BinaryNode::BinaryNode(std::string_view path, FilterType operand, bool negate)
    : m_path(path), m_operand(std::move(operand)), m_negate(negate) {}

bool BinaryNode::Evaluate(const EventFields& event) const {
  const std::optional<FilterTypeView> field = event.Value(m_path.Components());
  if (!field) return m_negate;
  return Compare(*field, m_operand) != m_negate;
}

}  // namespace sendara::edr_telemetry::filtration
