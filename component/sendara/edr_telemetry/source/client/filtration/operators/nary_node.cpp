#include "component/sendara/edr_telemetry/source/client/filtration/operators/nary_node.h"

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"

namespace sendara::edr_telemetry::filtration {

NaryNode::NaryNode(std::string_view path, std::vector<FilterType> operands, bool negate)
    : m_path(path), m_operands(std::move(operands)), m_negate(negate) {}

bool NaryNode::Evaluate(const EventFields& event) const {
  const EventFields::Root root = event.RootKind();
  if (root == EventFields::Root::kNull) return m_negate;
  SENDARA_CHECK(root == EventFields::Root::kObject, base::invalid_json_exception, oru::rc::InvalidType,
                "event is not an object");
  const std::optional<FilterTypeView> value = event.Value(std::span<const std::string>(&m_path, 1));
  if (!value) return m_negate;
  for (const FilterType& operand : m_operands) {
    if (Compare(*value, operand)) return !m_negate;
  }
  return m_negate;
}

}  // namespace sendara::edr_telemetry::filtration
