#pragma once

#include <optional>
#include <span>
#include <string>

#include "component/sendara/edr_telemetry/source/client/filtration/filter_type.h"

namespace sendara::edr_telemetry::filtration {

// An event as filter expressions read it: the values its member names lead
// to. One implementation per parsed form of an event, so that the same tree
// gives the same answer whichever parser read the event.
class EventFields {
 public:
  enum class Root { kObject, kNull, kOther };

  virtual ~EventFields() = default;

  virtual Root RootKind() const noexcept = 0;
  // Whether `path` reaches a value: each step goes into a member of an
  // object (the last of members with equal names, as a parse keeps it);
  // a step into anything else, an absent member or a member holding JSON
  // null reach nothing. Arrays are never stepped into.
  virtual bool Contains(std::span<const std::string> path) const noexcept = 0;
  // The value `path` reaches, as a comparison reads it; nothing when it
  // reaches none. Raises sendara_exception "unexpected json content" for a
  // value that is not comparable (see ConvertJsonToFilterType). A string is
  // a view into the parsed event.
  virtual std::optional<FilterTypeView> Value(std::span<const std::string> path) const = 0;
};

}  // namespace sendara::edr_telemetry::filtration
