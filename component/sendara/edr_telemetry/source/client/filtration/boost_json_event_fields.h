#pragma once

#include <boost/json/value.hpp>

#include "component/sendara/edr_telemetry/source/client/filtration/event_fields.h"

namespace sendara::edr_telemetry::filtration {

// The fields of an event parsed by Boost.JSON; refers to `event`, which must
// outlive it.
class BoostJsonEventFields final : public EventFields {
 public:
  explicit BoostJsonEventFields(const boost::json::value& event) noexcept : m_event(&event) {}

  Root RootKind() const noexcept override;
  bool Contains(std::span<const std::string> path) const noexcept override;
  std::optional<FilterTypeView> Value(std::span<const std::string> path) const override;

 private:
  const boost::json::value* Find(std::span<const std::string> path) const noexcept;

  const boost::json::value* m_event;
};

}  // namespace sendara::edr_telemetry::filtration
