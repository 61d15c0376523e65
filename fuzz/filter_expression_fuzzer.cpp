// Builds a filter expression from the first JSON text of the input and, when
// it builds, evaluates it against the event that the rest of the input holds
// (and against a null event, which a rule may meet too). Nothing may crash,
// trip a sanitizer or hang; refusals and evaluation errors are expected.
//
// The event is read as the client's parser pool reads it, by Boost.JSON and
// by simdjson's DOM parser; where simdjson reads it, the expression must give
// the same answer (or fail alike) on both readings, and where Boost.JSON
// refuses what simdjson reads, the pool must refuse the event as Boost.JSON
// does everywhere else.
//
// Input: an expression, then an event, e.g.
//   {"operator": "==", "operands": ["a.b", 5]} {"a": {"b": 5}}
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include <boost/json/parse.hpp>
#include <boost/json/parser.hpp>
#include <simdjson.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"
#include "component/sendara/edr_telemetry/source/client/filtration/boost_json_event_fields.h"
#include "component/sendara/edr_telemetry/source/client/filtration/simdjson_event_fields.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"
#include "fuzz/number_literal.h"

namespace {

using sendara::edr_telemetry::filtration::AstBuilder;
using sendara::edr_telemetry::filtration::BoostJsonEventFields;
using sendara::edr_telemetry::filtration::EventFields;
using sendara::edr_telemetry::filtration::FilterNode;
using sendara::edr_telemetry::filtration::SimdjsonEventFields;
using sendara::edr_telemetry::telemetry::EventParserPool;

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

// The depth the parser pool gives simdjson.
constexpr std::size_t kFastMaximumDepth = sendara::base::kMaximumDepth - 1;

enum class Outcome { kFalse, kTrue, kThrew };

Outcome Evaluate(const FilterNode& expression, const EventFields& event) {
  try {
    return expression.Evaluate(event) ? Outcome::kTrue : Outcome::kFalse;
  } catch (const std::exception&) {
    // A field that cannot be compared: the filter skips such a rule.
    return Outcome::kThrew;
  }
}

// Boost.JSON 1.81 turns a decimal literal into a double as mantissa times a
// power of ten, two roundings, so not always into the nearest double (nor
// always into the same one, see NumberLiteral::following):
// 9007199254740993.00000000001 reads as 2^53 where the nearest is 2^53 + 2,
// and -92333720368540000000000000000000000000000000007759.00000000001 two
// units in the last place off. simdjson reads the nearest. A leaf comparing
// such a value with a whole number may then rightly answer otherwise on each
// reading: that is Boost.JSON's arithmetic, not the component's, and is let
// through where the two readings differ in nothing else.
//
// The pairs (simdjson's, Boost.JSON's) of the doubles that the two parsers
// read from one literal of `text`, where simdjson's is the nearest (as
// std::from_chars reads it) and Boost.JSON's another number. Boost.JSON's
// NaN for a zero with a large exponent (0e400) is not such a pair: the
// component reads it as the zero it is.
std::set<std::pair<double, double>> MisreadDoubles(std::string_view text) {
  static simdjson::dom::parser literalParser;
  static std::string padded;
  std::set<std::pair<double, double>> misread;
  for (const auto& [literal, following] : NumberLiteral::All(text)) {
    if (literal.find_first_of(".eE") == std::string_view::npos) continue;
    double nearest = 0;
    const std::from_chars_result read = std::from_chars(literal.data(), literal.data() + literal.size(), nearest);
    if (read.ec != std::errc() || read.ptr != literal.data() + literal.size()) continue;
    padded.assign(literal);
    padded.append(simdjson::SIMDJSON_PADDING, '\0');
    double fast = 0;
    if (literalParser.parse(padded.data(), literal.size(), false).get_double().get(fast) || fast != nearest) continue;
    // Followed by as many bytes as in `text`, which Boost.JSON's reading
    // depends on.
    boost::system::error_code error;
    const boost::json::value reference = boost::json::parse(std::string(literal) + std::string(following, ' '), error);
    if (error || !reference.is_double() || std::isnan(reference.get_double())) continue;
    if (reference.get_double() != fast) misread.emplace(fast, reference.get_double());
  }
  return misread;
}

enum class Likeness { kSame, kMisreadDoubles, kDifferent };

Likeness Worse(Likeness a, Likeness b) { return a > b ? a : b; }

// How simdjson's reading of an event compares with Boost.JSON's, member by
// member (the last of equal names, which both readings keep): the same, or
// differing only in doubles that Boost.JSON misread (`misread`, above).
Likeness Compare(simdjson::dom::element fast, const boost::json::value& reference,
                 const std::set<std::pair<double, double>>& misread) {
  using simdjson::dom::element_type;
  switch (fast.type()) {
    case element_type::OBJECT: {
      const boost::json::object* object = reference.if_object();
      if (!object) return Likeness::kDifferent;
      std::map<std::string_view, simdjson::dom::element> last;
      const simdjson::dom::object members = fast.get_object().value_unsafe();
      for (const simdjson::dom::key_value_pair member : members) {
        last.insert_or_assign(member.key, member.value);
      }
      if (last.size() != object->size()) return Likeness::kDifferent;
      Likeness likeness = Likeness::kSame;
      for (const auto& [name, value] : last) {
        const boost::json::value* other = object->if_contains(name);
        if (!other) return Likeness::kDifferent;
        likeness = Worse(likeness, Compare(value, *other, misread));
      }
      return likeness;
    }
    case element_type::ARRAY: {
      const boost::json::array* array = reference.if_array();
      if (!array) return Likeness::kDifferent;
      Likeness likeness = Likeness::kSame;
      std::size_t i = 0;
      const simdjson::dom::array items = fast.get_array().value_unsafe();
      for (const simdjson::dom::element item : items) {
        if (i == array->size()) return Likeness::kDifferent;
        likeness = Worse(likeness, Compare(item, (*array)[i++], misread));
      }
      return i == array->size() ? likeness : Likeness::kDifferent;
    }
    case element_type::STRING: {
      const bool same = reference.is_string() && reference.get_string() == fast.get_string().value_unsafe();
      return same ? Likeness::kSame : Likeness::kDifferent;
    }
    case element_type::INT64:
      if (reference.is_int64()) {
        return reference.get_int64() == fast.get_int64().value_unsafe() ? Likeness::kSame : Likeness::kDifferent;
      }
      [[fallthrough]];
    case element_type::UINT64: {
      std::uint64_t number = 0;
      if (fast.get_uint64().get(number)) return Likeness::kDifferent;
      if (reference.is_uint64()) return reference.get_uint64() == number ? Likeness::kSame : Likeness::kDifferent;
      if (reference.is_int64() && reference.get_int64() >= 0) {
        return static_cast<std::uint64_t>(reference.get_int64()) == number ? Likeness::kSame : Likeness::kDifferent;
      }
      return Likeness::kDifferent;
    }
    case element_type::DOUBLE: {
      if (!reference.is_double()) return Likeness::kDifferent;
      const double a = fast.get_double().value_unsafe();
      const double b = reference.get_double();
      // Boost.JSON's NaN for 0e400 is the zero that the component reads.
      if (a == b || (std::isnan(b) && a == 0)) return Likeness::kSame;
      // NaN is never in the set, and would look equivalent to any pair there.
      return !std::isnan(b) && misread.contains({a, b}) ? Likeness::kMisreadDoubles : Likeness::kDifferent;
    }
    case element_type::BOOL: {
      const bool same = reference.is_bool() && reference.get_bool() == fast.get_bool().value_unsafe();
      return same ? Likeness::kSame : Likeness::kDifferent;
    }
    case element_type::NULL_VALUE:
      return reference.is_null() ? Likeness::kSame : Likeness::kDifferent;
  }
  return Likeness::kDifferent;
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

  (void)Evaluate(*expression, BoostJsonEventFields(boost::json::value()));
  boost::json::parser eventParser({}, EventOptions());
  const std::string_view rest = input.substr(used);
  eventParser.write(rest.data(), rest.size(), error);
  boost::json::value event;
  std::optional<Outcome> reference;
  if (!error) {
    event = eventParser.release();
    reference = Evaluate(*expression, BoostJsonEventFields(event));
  }

  static simdjson::dom::parser fastParser;
  if (fastParser.max_depth() != kFastMaximumDepth && fastParser.allocate(rest.size(), kFastMaximumDepth)) {
    __builtin_trap();
  }
  static std::string padded;
  padded.assign(rest);
  padded.append(simdjson::SIMDJSON_PADDING, '\0');
  simdjson::dom::element fastEvent;
  if (fastParser.parse(padded.data(), rest.size(), false).get(fastEvent)) return 0;
  if (!reference) {
    // simdjson reads what Boost.JSON refuses: the pool must refuse it too.
    static EventParserPool pool;
    try {
      (void)pool.Parse(sendara::base::ToUtf16(rest));
    } catch (const sendara::base::invalid_json_exception&) {
      return 0;
    }
    __builtin_trap();
  }
  if (Evaluate(*expression, SimdjsonEventFields(fastEvent)) != *reference &&
      Compare(fastEvent, event, MisreadDoubles(rest)) != Likeness::kMisreadDoubles) {
    __builtin_trap();
  }
  return 0;
}
