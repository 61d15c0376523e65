#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"

namespace {

using sendara::base::ToUtf16;
using sendara::base::ToUtf8;
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

// Parses `event` and keeps it for the hand-over, as a decision to send does.
void DecideToKeep(EventParserPool& pool, std::u16string_view event) {
  EventParserPool::Parsed parsed = pool.Parse(event);
  parsed.KeepForHandOver();
}

std::optional<std::string> HandOver(EventParserPool& pool, std::u16string_view event) {
  const EventParserPool::Decided decided = pool.TakeDecided(event);
  if (!decided.Utf8()) return std::nullopt;
  return std::string(*decided.Utf8());
}

// The hand-over of the text just kept on this thread takes its conversion,
// once; any other text, a buffer rewritten in place included, another
// thread, a later decision or one whose text was repaired leave it to the
// hand-over to convert.
TEST(EventParserPool, HandsAKeptTextOverToTheSameTextOnTheSameThreadOnly) {
  EventParserPool pool;
  std::u16string buffer = u"{\"a\": \"\u00e91\", \"b\": 1}";
  DecideToKeep(pool, buffer);
  EXPECT_EQ(HandOver(pool, buffer), ToUtf8(buffer));
  EXPECT_EQ(pool.TextsReused(), 1u);
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);

  // The host's buffer holds the next event, of the same length, at the same
  // address.
  DecideToKeep(pool, buffer);
  const char16_t* const address = buffer.data();
  buffer[buffer.find(u'1')] = u'2';
  ASSERT_EQ(buffer.data(), address);
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);

  // Decided but not kept.
  { const EventParserPool::Parsed parsed = pool.Parse(buffer); }
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);

  // Another thread, then this one.
  DecideToKeep(pool, buffer);
  std::thread([&] { EXPECT_EQ(HandOver(pool, buffer), std::nullopt); }).join();
  EXPECT_EQ(HandOver(pool, buffer), ToUtf8(buffer));

  // Another thread decides while this one's text is parked. With no other
  // slot free it takes the parked one, whose hand-over then converts...
  const std::u16string other = u"{\"c\": 3}";
  const auto decideAndHandOverElsewhere = [&] {
    std::thread([&] {
      DecideToKeep(pool, other);
      EXPECT_EQ(HandOver(pool, other), ToUtf8(other));
    }).join();
  };
  DecideToKeep(pool, buffer);
  decideAndHandOverElsewhere();
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);
  // ...and with a second slot free, each thread takes its own text back.
  {
    const EventParserPool::Parsed held = pool.Parse(buffer);
    std::thread([&] { const EventParserPool::Parsed parsed = pool.Parse(other); }).join();
  }
  DecideToKeep(pool, buffer);
  decideAndHandOverElsewhere();
  EXPECT_EQ(HandOver(pool, buffer), ToUtf8(buffer));
  EXPECT_EQ(pool.TextsReused(), 5u);

  // A later decision, in this pool or in another, replaces the kept one.
  EventParserPool second;
  DecideToKeep(pool, buffer);
  DecideToKeep(second, other);
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);
  DecideToKeep(pool, buffer);
  DecideToKeep(pool, other);
  EXPECT_EQ(HandOver(pool, buffer), std::nullopt);

  // The decision reads an escaped lone surrogate as U+FFFD: its text is not
  // the one the hand-over sends.
  const std::u16string escaped = u"{\"s\": \"x\\ud800\"}";
  DecideToKeep(pool, escaped);
  EXPECT_EQ(HandOver(pool, escaped), std::nullopt);
  // Nor is a text too large to keep parked.
  const std::u16string large = u"{\"a\": \"" + std::u16string(EventParserPool::kKeptBytes, u'x') + u"\"}";
  DecideToKeep(pool, large);
  EXPECT_EQ(HandOver(pool, large), std::nullopt);
  EXPECT_EQ(pool.TextsReused(), 5u);
}

}  // namespace
