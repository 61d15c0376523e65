#pragma once

#include <memory>

#include <boost/json/value.hpp>

#include "component/sendara/edr_telemetry/source/client/filtration/filter_node.h"

namespace sendara::edr_telemetry::filtration {

// Builds the node tree of a filter expression from its JSON form.
class IAstBuilder {
 public:
  virtual ~IAstBuilder() = default;
  // Raises on an expression that cannot be built; never returns null.
  virtual std::shared_ptr<const FilterNode> Build(const boost::json::value& expression) const = 0;
};

}  // namespace sendara::edr_telemetry::filtration
