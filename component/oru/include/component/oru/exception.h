#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "component/oru/result_code.h"

namespace oru {

// Names of the properties the framework knows.
namespace property {
inline constexpr std::string_view kResult = "oru.result";
inline constexpr std::string_view kOsResult = "os.result";
inline constexpr std::string_view kIid = "oru.iid";
inline constexpr std::string_view kServiceKey = "oru.serviceKey";
inline constexpr std::string_view kAdditionalInfo = "additional_info";
}  // namespace property

// The framework exception: a message, the source file and line, an optional
// result code (the property "oru.result") and a bag of named properties.
class Exception : public std::exception {
 public:
  using PropertyValue = std::variant<std::int64_t, std::uint64_t, std::string, bool>;

  Exception(std::string message, const char* file, int line);

  const char* what() const noexcept override { return m_message.c_str(); }
  const std::string& Message() const noexcept { return m_message; }
  const char* File() const noexcept { return m_file; }
  int Line() const noexcept { return m_line; }

  // The result code, when the exception carries one.
  std::optional<Result> Code() const noexcept;
  void SetCode(Result code);

  // Adds the property, or replaces the value of one with the same name.
  void SetProperty(std::string_view name, PropertyValue value);
  const PropertyValue* FindProperty(std::string_view name) const noexcept;
  const std::vector<std::pair<std::string, PropertyValue>>& Properties() const noexcept {
    return m_properties;
  }

  // message + ". At " + file + "(" + line + ") " and, when there are
  // properties, " Properties:" followed by each as " name = value", joined
  // with ";". Result codes and interface ids are written in hexadecimal.
  std::string ToString() const;

 private:
  std::string m_message;
  const char* m_file;
  int m_line;
  std::vector<std::pair<std::string, PropertyValue>> m_properties;
};

}  // namespace oru
