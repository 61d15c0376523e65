#pragma once

#include <boost/json/value.hpp>

namespace sendara::edr_telemetry::filtration {

// A node of a filter expression tree. Trees are immutable once built and may
// be evaluated by several threads at once.
class FilterNode {
 public:
  virtual ~FilterNode() = default;
  // Whether the expression holds for `event` (normally a JSON object). May
  // throw for a field whose value cannot be compared.
  virtual bool Evaluate(const boost::json::value& event) const = 0;
};

}  // namespace sendara::edr_telemetry::filtration
