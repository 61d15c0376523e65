#include <optional>
#include <string>

#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"

namespace {

using sendara::edr_telemetry::telemetry::StoredValueReader;

// Rows as the client writes them, rows only the full parsers read, and
// damaged rows, through one reader so that each meets the state the one
// before left.
TEST(StoredValueReader, ReadsTheTextOfEveryRowItCanAndNothingOfDamagedOnes) {
  StoredValueReader reader;
  // Long enough for the block-wise reading, escapes falling on every offset;
  // with a \u escape and without.
  for (const std::string_view control : {"", "\x01"}) {
    std::string event = "{";
    for (int i = 0; i < 40; ++i) {
      event += "\"" + std::string(i % 17, 'k') + "\":\"caf\xC3\xA9\xF0\x9F\x98\x80 C:\\\\x\t\n/";
      event += std::string(control) + "\",";
    }
    event.back() = '}';
    EXPECT_EQ(reader.Text(R"({"severity":0,"text":)" + boost::json::serialize(boost::json::string_view(event)) + "}"),
              event);
  }
  // An escape at every place of the first 64 bytes, the last included.
  for (std::size_t place = 0; place < 80; ++place) {
    for (const char escaped : {'\n', '\\', '"'}) {
      const std::string event = std::string(place, 'a') + escaped + std::string(100, 'b');
      EXPECT_EQ(reader.Text(R"({"severity":0,"text":)" + boost::json::serialize(boost::json::string_view(event)) + "}"),
                event);
    }
  }
  const std::pair<std::string, std::string> rows[] = {
      {R"({"severity":0,"text":"{\"a\":\"\u00e9\\n\"}"})", "{\"a\":\"\xC3\xA9\\n\"}"},
      {R"({"severity":0,"text":"\ud83d\ude00\/\b\f\r\t\\"})", "\xF0\x9F\x98\x80/\b\f\r\t\\"},
      {R"({"text":"old","severity":0,"text":"new"})", "new"},
      {R"({"severity":0,"text":"old","text":"new"})", "new"},
      // An escaped lone surrogate, which simdjson refuses: U+FFFD.
      {R"({"severity":0,"text":"x\ud800"})", "x\xEF\xBF\xBD"},
      {R"({"severity":0,"text":"x\udc00\ud800y"})", "x\xEF\xBF\xBD\xEF\xBF\xBDy"},
      {R"({"severity":1e999,"text":"big"})", "big"},
      {R"({ "severity":0,"text":"spaced" })", "spaced"},
  };
  for (const auto& [row, text] : rows) EXPECT_EQ(reader.Text(row), std::optional<std::string>(text)) << row;
  for (const std::string damaged :
       {R"({"severity":0,"text":"cut)", R"({"severity":0,"text":"cut\"})", R"({"severity":0,"text":"a"b"})",
        "{\"severity\":0,\"text\":\"raw\ncontrol\"}", "{\"severity\":0,\"text\":\"bad \xC3 byte\"}",
        R"({"severity":0,"text":"\q"})", R"({"severity":0,"text":"\u12G4"})", R"({"severity":0})", R"({"text":5})",
        R"(["text"])", "null", ""}) {
    EXPECT_EQ(reader.Text(damaged), std::nullopt) << damaged;
  }
  EXPECT_EQ(reader.Text(R"({"text":"after"})"), std::optional<std::string>("after"));
}

}  // namespace
