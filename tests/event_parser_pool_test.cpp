#include <string>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"

namespace {

using sendara::base::ToUtf16;
using sendara::edr_telemetry::filtration::AstBuilder;
using sendara::edr_telemetry::telemetry::EventParserPool;

bool Holds(EventParserPool& pool, const std::string& expression, const std::string& event, bool fast) {
  const EventParserPool::Parsed parsed = pool.Parse(ToUtf16(event));
  EXPECT_EQ(parsed.Fast(), fast) << event;
  return AstBuilder().Build(boost::json::parse(expression))->Evaluate(parsed.Fields());
}

// Events simdjson refuses are read by Boost.JSON with the same meaning; text
// that is not JSON fails as it always did. One pool throughout, so that slots
// come back in every state.
TEST(EventParserPool, ReadsEveryEventAsBoostJsonDoesAndFallsBackWhereSimdjsonRefuses) {
  EventParserPool pool;
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["n", 3]})", R"({"n": 3.0})", true));
  // The last of equal names counts, as a parse that keeps one member keeps it.
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["a.b", 2]})", R"({"a": {"b": 1, "b": 2}})", true));
  // An escaped lone surrogate reads as U+FFFD.
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["s", "x\ufffd"]})", R"({"s": "x\ud800"})", true));
  // Numbers beyond 64 bits and beyond a double's range: Boost.JSON's doubles.
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["a", "x"]})",
                    R"({"n": 123456789012345678901234567890, "a": "x"})", false));
  EXPECT_TRUE(Holds(pool, R"({"operator": "exists", "operands": ["n"]})", R"({"n": 1e400})", false));
  // Boost.JSON reads a zero with a large exponent as NaN: still zero.
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["z", 0]})",
                    R"({"n": 123456789012345678901234567890, "z": 0e400})", false));
  // A ten-digit exponent: simdjson reads it (as zero), Boost.JSON refuses it,
  // and so does the pool. One in a string only looks like it: such an event
  // goes to Boost.JSON only when it holds a zero too.
  EXPECT_THROW(pool.Parse(u"{\"z\": 0e3046744073709551616}"), sendara::base::invalid_json_exception);
  EXPECT_THROW(pool.Parse(u"[1E-2147483648]"), sendara::base::invalid_json_exception);
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["s", "1e+1234567890"]})",
                    R"({"s": "1e+1234567890", "z": 0.0})", false));
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["s", "1e+1234567890"]})",
                    R"({"s": "1e+1234567890", "n": 1e-5})", true));
  EXPECT_THROW(pool.Parse(u"{\"a\": tru}"), sendara::base::invalid_json_exception);
  EXPECT_THROW(pool.Parse(u"{\"a\":"), sendara::base::invalid_json_exception);
  // Nesting at the limit goes to Boost.JSON, past it fails.
  const std::size_t limit = 512;
  EXPECT_TRUE(Holds(pool, R"({"operator": "not exists", "operands": ["x"]})",
                    std::string(limit, '[') + std::string(limit, ']'), false));
  EXPECT_THROW(pool.Parse(ToUtf16(std::string(limit + 1, '[') + std::string(limit + 1, ']'))),
               sendara::base::invalid_json_exception);
  // A large event, then a small one: the slot that grew is not kept.
  const std::string large = R"({"a": ")" + std::string(EventParserPool::kKeptBytes, 'x') + R"(", "b": 1})";
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["b", 1]})", large, true));
  EXPECT_TRUE(Holds(pool, R"({"operator": "==", "operands": ["b", 1]})", R"({"b": 1})", true));
}

}  // namespace
