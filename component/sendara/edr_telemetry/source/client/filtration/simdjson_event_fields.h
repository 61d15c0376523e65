#pragma once

#include <simdjson.h>

#include "component/sendara/edr_telemetry/source/client/filtration/event_fields.h"

namespace sendara::edr_telemetry::filtration {

// The fields of an event parsed by simdjson's DOM parser; valid while the
// parser that made `event` holds that document.
class SimdjsonEventFields final : public EventFields {
 public:
  explicit SimdjsonEventFields(simdjson::dom::element event) noexcept : m_event(event) {}

  Root RootKind() const noexcept override;
  bool Contains(std::span<const std::string> path) const noexcept override;
  std::optional<FilterTypeView> Value(std::span<const std::string> path) const override;

  // The comparison's reading of one value, as ConvertJsonToFilterType reads
  // the same value parsed by Boost.JSON.
  static FilterTypeView Convert(simdjson::dom::element value);

 private:
  std::optional<simdjson::dom::element> Find(std::span<const std::string> path) const noexcept;

  simdjson::dom::element m_event;
};

}  // namespace sendara::edr_telemetry::filtration
