#include "component/sendara/edr_telemetry/source/client/filtration/operator_type.h"

#include <array>
#include <utility>

#include "component/sendara/edr_telemetry/source/client/filtration/ascii.h"

namespace sendara::edr_telemetry::filtration {
namespace {

struct Name {
  std::string_view text;
  bool anyCase;
  OperatorType type;
};

constexpr std::array<Name, 20> kNames{{
    {"and", true, OperatorType::kAnd},
    {"==", false, OperatorType::kEqual},
    {">", false, OperatorType::kGreater},
    {">=", false, OperatorType::kGreaterEqual},
    {"in", true, OperatorType::kIn},
    {"in like", true, OperatorType::kInLike},
    {"like", true, OperatorType::kLike},
    {"<", false, OperatorType::kLess},
    {"<=", false, OperatorType::kLessEqual},
    {"!=", false, OperatorType::kNotEqual},
    {"not", true, OperatorType::kNot},
    {"not in", true, OperatorType::kNotIn},
    {"not in like", true, OperatorType::kNotInLike},
    {"not like", true, OperatorType::kNotLike},
    {"or", true, OperatorType::kOr},
    {"exists", true, OperatorType::kExists},
    {"not exists", true, OperatorType::kNotExists},
    {"bit and", true, OperatorType::kBitAnd},
    {"iequal", true, OperatorType::kIEqual},
    {"contains", true, OperatorType::kContains},
}};

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

OperatorType ParseOperator(std::string_view name) noexcept {
  for (const Name& candidate : kNames) {
    const bool match = candidate.anyCase ? EqualIgnoringAsciiCase(name, candidate.text)
                                         : name == candidate.text;
    if (match) return candidate.type;
  }
  return OperatorType::kUnknown;
}

}  // namespace sendara::edr_telemetry::filtration
