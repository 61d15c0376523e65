#include "component/oru/exception.h"

#include <algorithm>
#include <cstdio>

#include "component/oru/result_text.h"

namespace oru {
namespace {

std::string Hex(std::uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%08llX", static_cast<unsigned long long>(value));
  return buffer;
}

bool IsCodeProperty(std::string_view name) {
  return name == property::kResult || name == property::kOsResult;
}

std::string FormatValue(std::string_view name, const Exception::PropertyValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  const auto* signedValue = std::get_if<std::int64_t>(&value);
  const std::uint64_t bits =
      signedValue ? static_cast<std::uint64_t>(*signedValue) : std::get<std::uint64_t>(value);
  if (IsCodeProperty(name)) {
    const auto code = static_cast<Result>(static_cast<std::uint32_t>(bits));
    std::string out = Hex(static_cast<std::uint32_t>(bits));
    if (name == property::kResult) {
      out += " (";
      out += GetResultText(code);
      out += ")";
    }
    return out;
  }
  if (name == property::kIid) return Hex(bits);
  return signedValue ? std::to_string(*signedValue) : std::to_string(bits);
}

}  // namespace

Exception::Exception(std::string message, const char* file, int line)
    : m_message(std::move(message)), m_file(file ? file : ""), m_line(line) {}

std::optional<Result> Exception::Code() const noexcept {
  const PropertyValue* value = FindProperty(property::kResult);
  if (!value) return std::nullopt;
  if (const auto* i = std::get_if<std::int64_t>(value)) return static_cast<Result>(*i);
  if (const auto* u = std::get_if<std::uint64_t>(value)) return static_cast<Result>(*u);
  return std::nullopt;
}

void Exception::SetCode(Result code) {
  SetProperty(property::kResult, static_cast<std::int64_t>(code));
}

void Exception::SetProperty(std::string_view name, PropertyValue value) {
  const auto it = std::find_if(m_properties.begin(), m_properties.end(),
                               [name](const auto& p) { return p.first == name; });
  if (it != m_properties.end()) {
    it->second = std::move(value);
  } else {
    m_properties.emplace_back(std::string(name), std::move(value));
  }
}

const Exception::PropertyValue* Exception::FindProperty(std::string_view name) const noexcept {
  for (const auto& [key, value] : m_properties) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::string Exception::ToString() const {
  std::string out = m_message;
  out += ". At ";
  out += m_file;
  out += "(";
  out += std::to_string(m_line);
  out += ") ";
  if (!m_properties.empty()) {
    out += " Properties:";
    bool first = true;
    for (const auto& [name, value] : m_properties) {
      if (!first) out += ";";
      first = false;
      out += " ";
      out += name;
      out += " = ";
      out += FormatValue(name, value);
    }
  }
  return out;
}

}  // namespace oru
