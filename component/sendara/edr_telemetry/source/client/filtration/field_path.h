#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>


namespace sendara::edr_telemetry::filtration {

// A dotted field path, split once when a rule is built: "a.b" names member
// "b" of member "a" of the event; empty components count ("a..b" has three).
class FieldPath {
 public:
  explicit FieldPath(std::string_view path);

  const std::string& Text() const noexcept { return m_text; }
  // The member names, outermost first, as EventFields looks them up.
  std::span<const std::string> Components() const noexcept { return m_components; }

 private:
  std::string m_text;
  std::vector<std::string> m_components;
};

}  // namespace sendara::edr_telemetry::filtration
