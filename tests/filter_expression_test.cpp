#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>
#include <simdjson.h>

#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"
#include "component/sendara/edr_telemetry/source/client/filtration/match_like.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operator_type.h"
#include "component/sendara/edr_telemetry/source/client/filtration/simdjson_event_fields.h"

namespace {

using namespace sendara::edr_telemetry::filtration;
using sendara::base::sendara_exception;

std::shared_ptr<const FilterNode> Build(std::string_view expression) {
  return AstBuilder().Build(boost::json::parse(expression));
}

template <class Evaluation>
std::optional<bool> Outcome(Evaluation evaluation) {
  try {
    return evaluation();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The answer on the event as Boost.JSON reads it; the same event as simdjson
// reads it, where it does, must give the same answer or the same failure.
bool Eval(std::string_view expression, std::string_view event) {
  const std::shared_ptr<const FilterNode> tree = Build(expression);
  const boost::json::value parsed = boost::json::parse(event);
  simdjson::dom::parser parser;
  simdjson::dom::element fast;
  if (!parser.parse(event.data(), event.size()).get(fast)) {
    EXPECT_EQ(Outcome([&] { return tree->Evaluate(SimdjsonEventFields(fast)); }),
              Outcome([&] { return tree->Evaluate(parsed); }))
        << expression << " on " << event;
  }
  return tree->Evaluate(parsed);
}

// The result code of a build failure, or 0 when it builds.
oru::Result BuildFailure(std::string_view expression) {
  try {
    Build(expression);
  } catch (const sendara_exception& e) {
    return *e.Code();
  }
  return 0;
}

TEST(ParseOperator, NamesInTableOrderWithTheirCaseRules) {
  EXPECT_EQ(ParseOperator("AND"), OperatorType::kAnd);
  EXPECT_EQ(ParseOperator("Not In"), OperatorType::kNotIn);
  EXPECT_EQ(ParseOperator("Bit And"), OperatorType::kBitAnd);
  EXPECT_EQ(ParseOperator("NOT IN LIKE"), OperatorType::kNotInLike);
  EXPECT_EQ(ParseOperator("iEqual"), OperatorType::kIEqual);
  EXPECT_EQ(ParseOperator("!="), OperatorType::kNotEqual);
  EXPECT_EQ(ParseOperator("NOT  IN"), OperatorType::kUnknown);  // two blanks
  EXPECT_EQ(ParseOperator("="), OperatorType::kUnknown);
  EXPECT_EQ(ParseOperator("=> "), OperatorType::kUnknown);
  EXPECT_EQ(ParseOperator(""), OperatorType::kUnknown);
  EXPECT_EQ(ParseOperator("in\0"), OperatorType::kIn);  // a C string literal: "in"
  EXPECT_EQ(ParseOperator(std::string_view("in\0", 3)), OperatorType::kUnknown);
}

TEST(BuildExpression, MalformedExpressionsFailWithTheirCodes) {
  EXPECT_EQ(BuildFailure(R"({"operator": "NOT  IN", "operands": ["a", 1]})"), oru::rc::InvalidArgument);
  EXPECT_EQ(BuildFailure(R"({"operator": "=", "operands": ["a", 1]})"), oru::rc::InvalidArgument);
  EXPECT_EQ(BuildFailure(R"({"operator": "exists", "operands": ["a", "b"]})"), oru::rc::UnspecifiedError);
  EXPECT_EQ(BuildFailure(R"({"operator": "==", "operands": ["a"]})"), oru::rc::UnspecifiedError);
  EXPECT_EQ(BuildFailure(R"({"operator": "==", "operands": [1, 2]})"), oru::rc::UnspecifiedError);
  EXPECT_EQ(BuildFailure(R"({"operator": "in", "operands": ["a"]})"), oru::rc::UnspecifiedError);
  EXPECT_EQ(BuildFailure(R"({"operator": "==", "operands": ["a", 3.0]})"), oru::rc::NotMatched);
  EXPECT_EQ(BuildFailure(R"({"operator": "==", "operands": ["a", null]})"), oru::rc::NotMatched);
  EXPECT_EQ(BuildFailure(R"({"operator": "in", "operands": ["a", 1, [2]]})"), oru::rc::NotMatched);
  EXPECT_EQ(BuildFailure(R"({"operator": "==", "operands": []})"), oru::rc::InvalidArgument);
  EXPECT_EQ(BuildFailure(R"({"operator": "==", "operands": "a"})"), oru::rc::InvalidArgument);
  EXPECT_EQ(BuildFailure(R"({"operator": "and", "operands": [{"operator": "or", "operands": ["x"]}, "y"]})"),
            oru::rc::InvalidArgument);

  try {
    Build(R"({"operator": 5, "operands": null})");
    FAIL() << "no exception";
  } catch (const sendara_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::InvalidArgument);
    EXPECT_EQ(std::get<std::string>(*e.FindProperty("additional_info")), "invalid json");
    EXPECT_EQ(std::get<bool>(*e.FindProperty("operator_is_string")), false);
    EXPECT_EQ(std::get<bool>(*e.FindProperty("operands_is_null")), true);
  }
}

TEST(BuildExpression, DeepNestingIsRefusedInsteadOfExhaustingTheStack) {
  std::string expression;
  for (int i = 0; i < 200; ++i) expression += R"({"operator": "not", "operands": [)";
  expression += R"({"operator": "exists", "operands": ["a"]})";
  for (int i = 0; i < 200; ++i) expression += "]}";
  boost::json::parse_options options;
  options.max_depth = 1000;
  EXPECT_THROW(AstBuilder().Build(boost::json::parse(expression, {}, options)), sendara_exception);
}

TEST(Evaluate, DottedPathsForBinaryLeavesAndWholeNamesForNaryLeaves) {
  const std::string equal = R"({"operator": "==", "operands": ["a.b", 5]})";
  const std::string notEqual = R"({"operator": "!=", "operands": ["a.b", 5]})";
  EXPECT_TRUE(Eval(equal, R"({"a": {"b": 5}})"));
  EXPECT_FALSE(Eval(equal, R"({"a": {"b": "5"}})"));
  EXPECT_FALSE(Eval(equal, R"({"a": [{"b": 5}]})"));
  EXPECT_TRUE(Eval(notEqual, R"({"a": {"b": "5"}})"));
  EXPECT_TRUE(Eval(notEqual, R"({"a": [{"b": 5}]})"));
  EXPECT_FALSE(Eval(notEqual, R"({"a": {"b": 5}})"));

  const std::string in = R"({"operator": "in", "operands": ["a.b", 1, 2]})";
  EXPECT_FALSE(Eval(in, R"({"a": {"b": 1}})"));
  EXPECT_TRUE(Eval(in, R"({"a.b": 2})"));
  EXPECT_TRUE(Eval(R"({"operator": "not in", "operands": ["a.b", 1, 2]})", R"({"a": {"b": 1}})"));

  // Empty components count: "a..b" needs a member named "".
  EXPECT_TRUE(Eval(R"({"operator": "exists", "operands": ["a..b"]})", R"({"a": {"": {"b": 0}}})"));
  EXPECT_FALSE(Eval(R"({"operator": "exists", "operands": ["a..b"]})", R"({"a": {"b": 0}})"));
}

TEST(Evaluate, NullIsMissingAndNegatedOperatorsAreTrueForMissingFields) {
  const std::string event = R"({"p": null, "n": 7})";
  EXPECT_FALSE(Eval(R"({"operator": "exists", "operands": ["p"]})", event));
  EXPECT_TRUE(Eval(R"({"operator": "not exists", "operands": ["p"]})", event));
  EXPECT_TRUE(Eval(R"({"operator": "not like", "operands": ["p", "x"]})", event));
  EXPECT_TRUE(Eval(R"({"operator": "not in like", "operands": ["missing", "x"]})", event));
  EXPECT_FALSE(Eval(R"({"operator": "in like", "operands": ["missing", "*"]})", event));
  EXPECT_FALSE(Eval(R"({"operator": ">", "operands": ["missing", 0]})", event));
  // A type mismatch is not an error: false, and true when negated.
  EXPECT_FALSE(Eval(R"({"operator": "like", "operands": ["n", "*"]})", event));
  EXPECT_TRUE(Eval(R"({"operator": "not like", "operands": ["n", "*"]})", event));
}

TEST(Evaluate, SignedAndUnsignedRules) {
  const std::string minusOne = R"({"v": -1})";
  EXPECT_FALSE(Eval(R"({"operator": ">", "operands": ["v", 18446744073709551615]})", minusOne));
  EXPECT_TRUE(Eval(R"({"operator": "<", "operands": ["v", 0]})", minusOne));
  EXPECT_TRUE(Eval(R"({"operator": "==", "operands": ["v", 18446744073709551615]})", minusOne));
  EXPECT_FALSE(Eval(R"({"operator": "in", "operands": ["v", 18446744073709551615]})", minusOne));
  EXPECT_TRUE(Eval(R"({"operator": "in", "operands": ["v", 5, -1]})", minusOne));
  EXPECT_TRUE(Eval(R"({"operator": ">=", "operands": ["v", -1]})", minusOne));
  EXPECT_TRUE(Eval(R"({"operator": "<=", "operands": ["v", -2]})", R"({"v": -3})"));
  EXPECT_TRUE(Eval(R"({"operator": ">", "operands": ["v", 9223372036854775807]})",
                   R"({"v": 9223372036854775808})"));

  // An event's 3.0 is the whole number 3; 3.5 cannot be compared at all.
  EXPECT_TRUE(Eval(R"({"operator": "==", "operands": ["v", 3]})", R"({"v": 3.0})"));
  EXPECT_TRUE(Eval(R"({"operator": "in", "operands": ["v", 3]})", R"({"v": 3.0})"));
  EXPECT_TRUE(Eval(R"({"operator": "==", "operands": ["v", -3]})", R"({"v": -3.0})"));
  EXPECT_THROW(Eval(R"({"operator": "==", "operands": ["v", 3]})", R"({"v": 3.5})"), sendara_exception);
  EXPECT_THROW(Eval(R"({"operator": "==", "operands": ["v", 3]})", R"({"v": {"x": 1}})"), sendara_exception);
  EXPECT_THROW(Eval(R"({"operator": "==", "operands": ["v", 3]})", R"({"v": 1e30})"), sendara_exception);
  // Zero however written, though Boost.JSON reads 0e400 as NaN.
  EXPECT_TRUE(Eval(R"({"operator": "==", "operands": ["v", 0]})", R"({"v": 0e400})"));
  EXPECT_TRUE(Eval(R"({"operator": "in", "operands": ["v", 0]})", R"({"v": -0.0e999})"));

  EXPECT_TRUE(Eval(R"({"operator": "bit and", "operands": ["v", 4]})", R"({"v": 6})"));
  EXPECT_FALSE(Eval(R"({"operator": "bit and", "operands": ["v", 8]})", R"({"v": 6})"));
  EXPECT_TRUE(Eval(R"({"operator": "bit and", "operands": ["v", 9223372036854775808]})", minusOne));
  EXPECT_TRUE(Eval(R"({"operator": "==", "operands": ["v", true]})", R"({"v": true})"));
  EXPECT_FALSE(Eval(R"({"operator": "==", "operands": ["v", 1]})", R"({"v": true})"));
}

TEST(Evaluate, StringLeaves) {
  EXPECT_TRUE(Eval(R"({"operator": "iequal", "operands": ["f", "cmd.EXE"]})", R"({"f": "CmD.exe"})"));
  EXPECT_FALSE(Eval(R"({"operator": "iequal", "operands": ["f", "cmd.ex"]})", R"({"f": "CmD.exe"})"));
  // Only ASCII letters fold: "É" and "é" differ.
  EXPECT_FALSE(Eval(R"({"operator": "iequal", "operands": ["f", "\u00e9"]})", R"({"f": "\u00c9"})"));
  EXPECT_TRUE(Eval(R"({"operator": "contains", "operands": ["f", ""]})", R"({"f": "any"})"));
  EXPECT_FALSE(Eval(R"({"operator": "contains", "operands": ["f", ""]})", R"({"f": 12})"));
  EXPECT_TRUE(Eval(R"({"operator": "contains", "operands": ["f", "md.e"]})", R"({"f": "cmd.exe"})"));
  EXPECT_TRUE(Eval(R"({"operator": "in like", "operands": ["f", "x*", "*.exe"]})", R"({"f": "cmd.exe"})"));
  EXPECT_FALSE(Eval(R"({"operator": "not in like", "operands": ["f", "x*", "*.exe"]})", R"({"f": "cmd.exe"})"));
}

TEST(Evaluate, LogicalNodesShortCircuitAndHandleNoChildren) {
  EXPECT_TRUE(Eval(R"({"operator": "and", "operands": ["x"]})", "{}"));
  EXPECT_FALSE(Eval(R"({"operator": "or", "operands": ["x"]})", "{}"));
  EXPECT_TRUE(Eval(R"({"operator": "not", "operands": ["x"]})", "{}"));
  const std::string throwsOnEvent = R"({"operator": "==", "operands": ["bad", 1]})";
  const std::string event = R"({"ok": 1, "bad": [1]})";
  const std::string okTrue = R"({"operator": "exists", "operands": ["ok"]})";
  const std::string okFalse = R"({"operator": "not exists", "operands": ["ok"]})";
  // The second child would throw: it is never evaluated.
  EXPECT_FALSE(Eval(R"({"operator": "and", "operands": [)" + okFalse + "," + throwsOnEvent + "]}", event));
  EXPECT_TRUE(Eval(R"({"operator": "or", "operands": [)" + okTrue + "," + throwsOnEvent + "]}", event));
  EXPECT_FALSE(Eval(R"({"operator": "not", "operands": [)" + okTrue + "," + throwsOnEvent + "]}", event));
  EXPECT_THROW(Eval(R"({"operator": "and", "operands": [)" + okTrue + "," + throwsOnEvent + "]}", event),
               sendara_exception);
  EXPECT_TRUE(Eval(R"({"operator": "NOT", "operands": [)" + okFalse + "]}", event));
}

TEST(Evaluate, NaryLeafOnARootThatIsNotAnObjectFails) {
  const auto in = Build(R"({"operator": "in", "operands": ["a", 1]})");
  EXPECT_THROW(in->Evaluate(boost::json::parse("[1]")), std::exception);
  EXPECT_FALSE(in->Evaluate(boost::json::value()));
  EXPECT_FALSE(Build(R"({"operator": "==", "operands": ["a", 1]})")->Evaluate(boost::json::parse("[1]")));
}

TEST(MatchLike, StarsQuestionMarksAndEscapes) {
  EXPECT_TRUE(MatchLike("abXYcZ", "ab*c?"));
  EXPECT_FALSE(MatchLike("abc", "ab*c?"));
  EXPECT_TRUE(MatchLike("a*b", "a\\*b"));
  EXPECT_FALSE(MatchLike("aXb", "a\\*b"));
  EXPECT_TRUE(MatchLike("a\\b", "a\\b"));       // "\" before an ordinary byte
  EXPECT_TRUE(MatchLike("a?", "a\\?"));
  EXPECT_FALSE(MatchLike("ab", "a\\?"));
  EXPECT_TRUE(MatchLike("a\\", "a\\\\"));
  EXPECT_TRUE(MatchLike("a\\", "a\\"));         // "\" at the end
  EXPECT_TRUE(MatchLike("", ""));
  EXPECT_FALSE(MatchLike("x", ""));
  EXPECT_TRUE(MatchLike("", "*"));
  EXPECT_TRUE(MatchLike("", "***"));
  EXPECT_FALSE(MatchLike("", "?"));
  EXPECT_TRUE(MatchLike("aXb", "*a*b"));
  EXPECT_TRUE(MatchLike("mississippi", "*sip*"));
  EXPECT_FALSE(MatchLike("mississippi", "*sip*x"));
  EXPECT_TRUE(MatchLike("Cmd.exe", "C*.exe"));
  EXPECT_FALSE(MatchLike("cmd.exe", "C*.exe"));  // case-sensitive
  EXPECT_FALSE(MatchLike("\xc3\xa9", "?"));      // one UTF-8 character, two bytes
  EXPECT_TRUE(MatchLike("\xc3\xa9", "??"));
}

TEST(MatchLike, ManyStarsStayFast) {
  const std::string text(2000, 'a');
  std::string pattern;
  for (int i = 0; i < 50; ++i) pattern += "*a";
  pattern += "*b";
  EXPECT_FALSE(MatchLike(text, pattern));  // would never end with full back-tracking
}

TEST(Evaluate, OneTreeFromManyThreads) {
  const auto tree = Build(R"({"operator": "or", "operands": [
      {"operator": "like", "operands": ["img", "*\\cmd.exe"]},
      {"operator": "in", "operands": ["pid", 4, 8]}]})");
  const auto match = boost::json::parse(R"({"img": "C:\\Windows\\cmd.exe", "pid": 1})");
  const auto other = boost::json::parse(R"({"img": "C:\\x.exe", "pid": 2})");
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        if (!tree->Evaluate(match) || tree->Evaluate(other)) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
