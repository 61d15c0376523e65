#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rules_json.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "gzip_text.h"
#include "host/tracer.h"

namespace {

using namespace sendara::edr_telemetry;
using sendara::base::invalid_json_exception;

std::vector<std::uint8_t> Gzip(const std::string& text) { return GzipBytes(text); }

std::string Rule(std::string_view name, std::string_view action, bool enable = true,
                 std::string_view expression = R"({"operator": "exists", "operands": ["x"]})") {
  return std::string(R"({"enable": )") + (enable ? "true" : "false") + R"(, "name": ")" +
         std::string(name) + R"(", "action": )" + std::string(action) + R"(, "filterExpression": )" +
         std::string(expression) + "}";
}

const std::string kDrop = R"({"actionType": "dropEvent"})";
const std::string kRemoveAll = R"({"actionType": "removeAllIoa"})";

std::vector<std::string> Names(const std::vector<ExclusionRule>& rules) {
  std::vector<std::string> names;
  for (const auto& rule : rules) names.push_back(sendara::base::ToUtf8(rule.name));
  return names;
}

class ExclusionRulesTest : public ::testing::Test {
 protected:
  void FromText(const std::string& document) {
    ConvertToExclusionRulesFromString(m_tracer.Get(), sendara::base::ToUtf16(document), m_rules, nullptr);
  }
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
  ExclusionRules m_rules;
};

TEST_F(ExclusionRulesTest, RulesGoToTheListOfTheirActionInDocumentOrder) {
  FromText(R"({"other": 1, "rules": [)" + Rule("d1", kDrop) + "," +
           Rule("r1", R"({"actionType": "removeIoa", "guids": ["ABC-1", "def", "def"]})") + "," +
           Rule("a1", kRemoveAll) + "," + Rule("d2", kDrop) + "]}");
  EXPECT_EQ(Names(m_rules.dropRules), (std::vector<std::string>{"d1", "d2"}));
  EXPECT_EQ(Names(m_rules.removeAllIoaRules), (std::vector<std::string>{"a1"}));
  ASSERT_EQ(m_rules.removeIoaRules.size(), 1u);
  EXPECT_EQ(std::get<RemoveIoaAction>(m_rules.removeIoaRules[0].action).guids,
            (std::vector<std::string>{"abc-1", "def", "def"}));
  EXPECT_TRUE(m_rules.dropRules[0].filterExpression->Evaluate(boost::json::parse(R"({"x": 1})")));
  EXPECT_TRUE(m_tracer->Lines().empty());

  // A second document appends behind the first.
  FromText(R"({"rules": [)" + Rule("d3", kDrop) + "]}");
  EXPECT_EQ(Names(m_rules.dropRules), (std::vector<std::string>{"d1", "d2", "d3"}));
}

TEST_F(ExclusionRulesTest, BadRulesAreSkippedAndTracedDisabledOnesAreExcluded) {
  const std::vector<std::string> bad = {
      Rule("capital", R"({"actionType": "DropEvent"})"),
      Rule("no guids", R"({"actionType": "removeIoa"})"),
      Rule("number guid", R"({"actionType": "removeIoa", "guids": ["a", 1]})"),
      Rule("array expression", kDrop, true, R"([1])"),
      Rule("unknown operator", kDrop, true, R"({"operator": "=", "operands": ["x", 1]})"),
      Rule("disabled but broken", kDrop, false, R"({"operator": "=", "operands": ["x", 1]})"),
      R"({"name": "no enable", "action": {"actionType": "dropEvent"}, "filterExpression": {}})",
      R"({"enable": true, "name": "no action", "filterExpression": {}})",
      R"({"enable": true, "name": "number type", "action": {"actionType": 5}, "filterExpression": {}})",
      R"("not an object")",
  };
  std::string document = R"({"rules": [)";
  for (const auto& rule : bad) document += rule + ",";
  document += Rule("disabled", kDrop, false) + "," + Rule("good", kDrop) + "]}";
  FromText(document);

  EXPECT_EQ(Names(m_rules.dropRules), (std::vector<std::string>{"good"}));
  EXPECT_TRUE(m_rules.removeIoaRules.empty());
  const auto failures = m_tracer->LinesContaining("] Can't build rule from ");
  ASSERT_EQ(failures.size(), bad.size());
  for (const auto& line : failures) EXPECT_EQ(line.level, 300);
  EXPECT_NE(failures[0].text.find(R"("actionType":"DropEvent")"), std::string::npos) << failures[0].text;
  EXPECT_NE(failures[0].text.find("invalid actionType field value"), std::string::npos);
  EXPECT_NE(failures[1].text.find("field_name = guids"), std::string::npos) << failures[1].text;
  EXPECT_NE(failures[8].text.find("unexpected, not a string type"), std::string::npos);
  const auto excluded = m_tracer->LinesContaining("] excluded rule: ");
  ASSERT_EQ(excluded.size(), 1u);
  EXPECT_EQ(excluded[0].level, 700);
  EXPECT_NE(excluded[0].text.find(R"("name":"disabled")"), std::string::npos);
}

TEST_F(ExclusionRulesTest, EmptyDocumentsAddAndTraceNothing) {
  FromText(R"({"rules": []})");
  FromText(R"({"norules": 1})");
  FromText("");
  FromText(R"({"rules": {}})");
  EXPECT_TRUE(m_rules.dropRules.empty());
  EXPECT_TRUE(m_tracer->Lines().empty());
  EXPECT_THROW(FromText(R"({"rules": 5})"), invalid_json_exception);
  EXPECT_THROW(FromText(R"({"rules": [)"), invalid_json_exception);
}

TEST_F(ExclusionRulesTest, CompressedDocuments) {
  ConvertToExclusionRules(m_tracer.Get(), Gzip(R"({"rules": [)" + Rule("z", kRemoveAll) + "]}"), m_rules,
                          nullptr);
  EXPECT_EQ(Names(m_rules.removeAllIoaRules), (std::vector<std::string>{"z"}));

  // Members one after the other make one document.
  auto twoMembers = Gzip(R"({"rules": [)" + Rule("m", kDrop));
  const auto secondMember = Gzip("]}");
  twoMembers.insert(twoMembers.end(), secondMember.begin(), secondMember.end());
  ConvertToExclusionRules(m_tracer.Get(), twoMembers, m_rules, nullptr);
  EXPECT_EQ(Names(m_rules.dropRules), (std::vector<std::string>{"m"}));
  m_rules.dropRules.clear();

  ConvertToExclusionRules(m_tracer.Get(), Gzip(""), m_rules, nullptr);
  EXPECT_EQ(m_tracer->Count("decompressed string is empty, skipping"), 1u);
  ConvertToExclusionRules(m_tracer.Get(), {}, m_rules, nullptr);
  EXPECT_EQ(m_tracer->Count("decompressed string is empty, skipping"), 2u);

  try {
    ConvertToExclusionRules(m_tracer.Get(), Gzip("not json"), m_rules, nullptr);
    FAIL() << "no exception";
  } catch (const invalid_json_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::InvalidState);
    EXPECT_EQ(std::get<std::string>(*e.FindProperty("additional_info")),
              "compressed json deserialization failed");
    EXPECT_NE(e.FindProperty("error_value"), nullptr);
    EXPECT_NE(e.FindProperty("error_message"), nullptr);
  }

  const std::vector<std::uint8_t> notGzip = {'{', '}', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_THROW(ConvertToExclusionRules(m_tracer.Get(), notGzip, m_rules, nullptr), invalid_json_exception);
  auto truncated = Gzip(R"({"rules": [)" + Rule("t", kDrop) + "]}");
  truncated.resize(truncated.size() / 2);
  EXPECT_THROW(ConvertToExclusionRules(m_tracer.Get(), truncated, m_rules, nullptr), invalid_json_exception);
  auto trailed = Gzip(R"({"rules": [)" + Rule("t", kDrop) + "]}");
  trailed.push_back('x');
  EXPECT_THROW(ConvertToExclusionRules(m_tracer.Get(), trailed, m_rules, nullptr), invalid_json_exception);
  EXPECT_TRUE(m_rules.dropRules.empty());
  EXPECT_EQ(m_rules.removeAllIoaRules.size(), 1u);  // earlier documents stay
}

TEST_F(ExclusionRulesTest, InflatingPastTheLimitIsRefused) {
  // 80 MiB of blanks compress to well under a megabyte.
  std::string huge(80u << 20, ' ');
  huge += "{}";
  try {
    ConvertToExclusionRules(m_tracer.Get(), Gzip(huge), m_rules, nullptr);
    FAIL() << "no exception";
  } catch (const invalid_json_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::FileIsTooBig);
  }
}

TEST_F(ExclusionRulesTest, TraceFormNeverWritesTheTree) {
  FromText(R"({"rules": [)" + Rule("d", kDrop) + "," +
           Rule("r", R"({"actionType": "removeIoa", "guids": ["X"]})") + "]}");
  EXPECT_EQ(boost::json::serialize(ToTraceJson(m_rules)),
            R"({"dropRules":[{"enable":true,"name":"d","action":{"type":"DropEvent"},"filterExpression":"<expression>"}],)"
            R"("removeAllIoaRules":[],)"
            R"("removeIoaRules":[{"enable":true,"name":"r","action":{"type":"RemoveIoaAction","guids":["x"]},"filterExpression":"<expression>"}]})");
}

}  // namespace
