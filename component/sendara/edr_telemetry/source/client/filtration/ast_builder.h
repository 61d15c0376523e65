#pragma once

#include <memory>
#include <vector>

#include <boost/json/array.hpp>

#include "component/sendara/edr_telemetry/source/client/filtration/i_ast_builder.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operator_type.h"

namespace sendara::edr_telemetry::filtration {

// The default builder. Stateless: one instance may serve any number of
// threads.
class AstBuilder final : public IAstBuilder {
 public:
  // Deeper expressions are refused rather than risking the stack.
  static constexpr int kMaximumDepth = 100;

  std::shared_ptr<const FilterNode> Build(const boost::json::value& expression) const override;
};

// Makes the node of `type`: the logical operators take `children`, the leaves
// their path and constants from `operands`.
std::shared_ptr<const FilterNode> CreateOperator(OperatorType type,
                                                 std::vector<std::shared_ptr<const FilterNode>> children,
                                                 const boost::json::array& operands);

}  // namespace sendara::edr_telemetry::filtration
