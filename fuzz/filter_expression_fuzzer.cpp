// Builds a filter expression from the first JSON text of the input and, when
// it builds, evaluates it against the event that the rest of the input holds
// (and against a null event, which a rule may meet too). Nothing may crash,
// trip a sanitizer or hang; refusals and evaluation errors are expected.
//
// Input: an expression, then an event, e.g.
//   {"operator": "==", "operands": ["a.b", 5]} {"a": {"b": 5}}
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>

#include <boost/json/parser.hpp>

#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"

namespace {

using sendara::edr_telemetry::filtration::AstBuilder;
using sendara::edr_telemetry::filtration::FilterNode;

// As deep as the rules reader lets a rules document nest: two levels per
// operator and a few for the document around the expression.
boost::json::parse_options ExpressionOptions() {
  boost::json::parse_options options;
  options.max_depth = 2 * AstBuilder::kMaximumDepth + 16;
  return options;
}

// As deep as the client parses events.
boost::json::parse_options EventOptions() {
  boost::json::parse_options options;
  options.max_depth = sendara::base::kMaximumDepth;
  return options;
}

void Evaluate(const FilterNode& expression, const boost::json::value& event) {
  try {
    (void)expression.Evaluate(event);
  } catch (const std::exception&) {
    // A field that cannot be compared: the filter skips such a rule.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  boost::json::parser expressionParser({}, ExpressionOptions());
  boost::system::error_code error;
  const std::size_t used = expressionParser.write_some(input.data(), input.size(), error);
  if (error) return 0;
  const boost::json::value expressionJson = expressionParser.release();

  std::shared_ptr<const FilterNode> expression;
  try {
    expression = AstBuilder().Build(expressionJson);
  } catch (const std::exception&) {
    return 0;  // refused whole, as the rules reader skips such a rule
  }
  if (!expression) __builtin_trap();  // Build never answers null

  Evaluate(*expression, boost::json::value());
  boost::json::parser eventParser({}, EventOptions());
  const std::string_view rest = input.substr(used);
  eventParser.write(rest.data(), rest.size(), error);
  if (!error) Evaluate(*expression, eventParser.release());
  return 0;
}
