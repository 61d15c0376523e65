#pragma once

#include <memory>
#include <vector>

#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"

namespace sendara::edr_telemetry::filtration {

// True when no child is true, stopping at the first true; no children is true.
class Not final : public FilterNode {
 public:
  explicit Not(std::vector<std::shared_ptr<const FilterNode>> children)
      : m_children(std::move(children)) {}

  bool Evaluate(const EventFields& event) const override;

 private:
  std::vector<std::shared_ptr<const FilterNode>> m_children;
};

}  // namespace sendara::edr_telemetry::filtration
