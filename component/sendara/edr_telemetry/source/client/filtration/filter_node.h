#pragma once

#include <boost/json/value.hpp>

#include "component/sendara/edr_telemetry/source/client/filtration/boost_json_event_fields.h"
#include "component/sendara/edr_telemetry/source/client/filtration/event_fields.h"

namespace sendara::edr_telemetry::filtration {

// A node of a filter expression tree. Trees are immutable once built and may
// be evaluated by several threads at once.
class FilterNode {
 public:
  virtual ~FilterNode() = default;
  // Whether the expression holds for `event` (normally a JSON object). May
  // throw for a field whose value cannot be compared.
  virtual bool Evaluate(const EventFields& event) const = 0;

  bool Evaluate(const boost::json::value& event) const { return Evaluate(BoostJsonEventFields(event)); }
};

}  // namespace sendara::edr_telemetry::filtration
