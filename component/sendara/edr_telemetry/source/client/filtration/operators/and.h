#pragma once

#include <memory>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"

namespace sendara::edr_telemetry::filtration {

// True when every child is true, in order, stopping at the first false; no children is true.
class And final : public FilterNode {
 public:
  explicit And(std::vector<std::shared_ptr<const FilterNode>> children)
      : m_children(std::move(children)) {}

  bool Evaluate(const EventFields& event) const override;

 private:
  std::vector<std::shared_ptr<const FilterNode>> m_children;
};

}  // namespace sendara::edr_telemetry::filtration
