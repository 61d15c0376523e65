#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <boost/json/value.hpp>

namespace sendara::edr_telemetry::filtration {

// A dotted field path, split once when a rule is built: "a.b" names member
// "b" of member "a" of the event; empty components count ("a..b" has three).
class FieldPath {
 public:
  explicit FieldPath(std::string_view path);

  const std::string& Text() const noexcept { return m_text; }

  // The value the path reaches, or null when the field is missing: a step
  // through something that is not an object, an absent member, or a member
  // whose value is JSON null. Arrays are never stepped into.
  const boost::json::value* Find(const boost::json::value& event) const noexcept;

 private:
  std::string m_text;
  std::vector<std::string> m_components;
};

}  // namespace sendara::edr_telemetry::filtration
