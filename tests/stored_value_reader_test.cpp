#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"

namespace {

using sendara::edr_telemetry::telemetry::StoredValueReader;

// Rows as the client writes them, rows only Boost.JSON reads, and damaged
// rows, through one reader so that each meets the state the one before left.
TEST(StoredValueReader, ReadsTheTextOfEveryRowItCanAndNothingOfDamagedOnes) {
  StoredValueReader reader;
  EXPECT_EQ(reader.Text(R"({"severity":0,"text":"{\"a\":\"\u00e9\\n\"}"})"), std::optional<std::string>("{\"a\":\"\xC3\xA9\\n\"}"));
  EXPECT_EQ(reader.Text(R"({"text":"old","severity":0,"text":"new"})"), std::optional<std::string>("new"));
  // An escaped lone surrogate, which simdjson refuses: U+FFFD.
  EXPECT_EQ(reader.Text(R"({"severity":0,"text":"x\ud800"})"), std::optional<std::string>("x\xEF\xBF\xBD"));
  EXPECT_EQ(reader.Text(R"({"severity":1e999,"text":"big"})"), std::optional<std::string>("big"));
  for (const char* damaged : {R"({"severity":0,"text":"cut)", R"({"severity":0})", R"({"text":5})", R"(["text"])",
                              "null", ""}) {
    EXPECT_EQ(reader.Text(damaged), std::nullopt) << damaged;
  }
  EXPECT_EQ(reader.Text(R"({"text":"after"})"), std::optional<std::string>("after"));
}

}  // namespace
