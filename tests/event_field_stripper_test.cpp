#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_field_stripper.h"
#include "stripped_event_reference.h"

namespace {

using sendara::base::kMaximumDepth;
using sendara::edr_telemetry::telemetry::EventFieldStripper;
using sendara::edr_telemetry::telemetry::testing::StrippingFault;
using Outcome = EventFieldStripper::Outcome;

std::string Nested(std::size_t depth, const std::string& inner) {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

// Events that take every turn of the reading, valid and not, each stripped
// of several sets of members, against the reading of from_string.
TEST(EventFieldStripper, AgreesWithBoostJsonOnTrickyEvents) {
  const std::vector<std::string> events = {
      "{}", " { } ", "null", " null\r\n", "{\"a\":1}", "{\"b\":1}",
      R"({"a":{"x":[1,{"y":"}"}]},"b":[{"z":"{["}],"c":"q\"}]{[,:\\","a2":[[],{}]})",
      R"({"b":{"a":[1,2,{"a":3}]},"a":"]","c":{"d":{"e":[[[null]]]}}})",
      R"({"n":[-0,-0.0,1e400,-1E-400,123456789012345678901234567890,18446744073709551616,0.1E-2,1E+2,0,-1]})",
      R"({"b":-0,"a":1e400,"x":123456789012345678901234567890,"y":1.5})",
      "{\r\n\t\"a\" :\t[ 1 ,\r\n 2 , { \"k\" : \" v \\t \" } ] ,\n \"b\" : { } ,\t\"x\":\"\t \"\r\n}\n",
      "{\"\xC3\xA9\":\"\xF0\x9F\x98\x80\",\"a\":\"\\u00e9\\ud83d\\ude00\",\"b\":\"\xE2\x82\xAC\"}",
      R"({"\u0061":1,"\u0062":2,"\u00e9":3,"\ud83d\ude00":4,"\/x":5,"x\n":6})",
      R"({"a":"\ud800","b":"\udc00x\ud800\u0041","\ud800":1,"x":"\\ud800"})",
      R"({"a":1,"a":2,"b":3,"b":4,"\u0061":5})",
      R"({"b":{"a":1},"x":{"b":2}})",
      // Refused, in kept and dropped members alike.
      "", " ", "[]", "[1]", "\"a\"", "1", "true", "nullx", "null null", "{", "}", "{\"a\"}", "{\"a\":}",
      "{\"a\":1,}", "{,\"a\":1}", "{\"a\":1 \"b\":2}", "{\"a\":1}}", "{\"a\":1} x", "{\"a\":1}{}", "{a:1}",
      "{'a':1}", "{\"b\":[1 2],\"a\":1}", "{\"b\":{\"x\" 1}}", "{\"b\":{\"x\":1,}}", "{\"b\":[1,]}",
      "{\"b\":{,}}", "{\"b\":[}", "{\"b\":]}", "{\"b\":[1]]}", "{\"b\":{\"x\":1]}", "{\"b\":tru}",
      "{\"b\":nul}", "{\"b\":falsey}", "{\"b\":NaN}", "{\"b\":Infinity}", "{\"b\":01}", "{\"b\":-01}",
      "{\"b\":1.}", "{\"b\":.5}", "{\"b\":-}", "{\"b\":+1}", "{\"b\":1e}", "{\"b\":1e+}", "{\"b\":0x1}",
      "{\"b\":\"\\x\"}", "{\"b\":\"\\u12G4\"}", "{\"b\":\"\\u12\"}", "{\"b\":\"\x01\"}", "{\"b\":\"\t\"}",
      "{\"b\":\"abc}", "{\"b\":\"abc\\\"}", "{\"b\\q\":1}", "{\"b\":1/*c*/}", "{\"a\":[1 2]}", "{\"a\":\"\n\"}",
      std::string("{\"b\":\"a\0b\"}", 11), std::string("{\"b\":1\0}", 8),
      // A control character where a string is read 16 bytes at a time.
      "{\"b\":\"abc\x01" "def\",\"a\":\"0123456789abcdef\"}",
      // Exponents past what is judged at a glance: accepted and refused.
      R"({"b":1e000000000000001,"a":2E-0000000000400})", R"({"b":1e9999999999,"a":1})",
      R"({"a":1e2147483647})", R"({"a":1e2147483648})", R"({"a":12.5e-2147483647})",
      // Nesting up to the limit and past it, kept and dropped.
      "{\"a\":" + Nested(kMaximumDepth - 1, "1") + "}", "{\"b\":" + Nested(kMaximumDepth - 1, "") + ",\"a\":1}",
      "{\"a\":" + Nested(kMaximumDepth, "1") + "}", "{\"b\":" + Nested(kMaximumDepth, "") + ",\"a\":1}",
  };
  const std::vector<EventFieldStripper::FieldSet> allowedSets = {
      {}, {"a"}, {"a", "x"}, {"b"}, {"a", "c", "a2", "n"}, {"\xC3\xA9", "\xF0\x9F\x98\x80", "/x", "x\n"},
      {"\xEF\xBF\xBD", "b"}, {"a", "b", "c", "x", "y", "n", "a2"},
  };
  EventFieldStripper stripper;
  for (const std::string& event : events) {
    for (std::size_t set = 0; set < allowedSets.size(); ++set) {
      EXPECT_EQ(StrippingFault(stripper, event, allowedSets[set]), "") << event << " with set " << set;
    }
  }
}

TEST(EventFieldStripper, KeptMembersGoOutAsWrittenWithoutWhiteSpace) {
  EventFieldStripper stripper;
  const EventFieldStripper::FieldSet allowed = {"a", "process", "\xEF\xBF\xBD"};
  // Names matched unescaped; names, strings and numbers as written; a
  // duplicated allowed member every time it stands.
  ASSERT_EQ(stripper.Strip("{ \"\\u0070rocess\" : { \"p\\u0069d\" : 1.50E+3 , \"s\" : \"\\u00e9\\/\\ud800 x\" },\n"
                           "\t\"drop\": {\"a\": [1, \"}\"]}, \"a\": [ 123456789012345678901234567890 , -0 ],"
                           " \"a\":\"\\uDC00\", \"\\udfff\": null }",
                           allowed),
            Outcome::kStripped);
  EXPECT_EQ(stripper.Stripped(),
            R"({"\u0070rocess":{"p\u0069d":1.50E+3,"s":"\u00e9\/\ud800 x"},)"
            R"("a":[123456789012345678901234567890,-0],"a":"\uDC00","\udfff":null})");
  // The buffers of a longer event do not show through a shorter one.
  ASSERT_EQ(stripper.Strip("{\"b\":1,\"a\":2}", allowed), Outcome::kStripped);
  EXPECT_EQ(stripper.Stripped(), "{\"a\":2}");
  EXPECT_EQ(stripper.Strip("{\"b\":1,\"c\":[]}", allowed), Outcome::kEmpty);
  EXPECT_EQ(stripper.Strip("{ \"a\" : 1 }", allowed), Outcome::kUnchanged);
}

}  // namespace
