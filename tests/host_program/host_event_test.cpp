#include <optional>
#include <string>

#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "host/program/host_event.h"
#include "host/program/input_lines.h"

namespace {

using reference_host::HostEvent;

std::string LineWithIoaVersion(const std::string& version) {
  return R"({"eventType":"DnsQuery","ioas":[{"guid":"g","version":)" + version + R"(,"isMarkable":true}],"event":{}})";
}

// An IOA version is a 32-bit unsigned number: anything else makes the line
// malformed, as any other wrong IOA member does, and never escapes as an
// exception (which would end the whole run) or wraps round.
TEST(HostEvent, IoaVersionOutsideItsRangeMakesTheLineMalformed) {
  for (const std::string version : {"-1", "-5555555555555551", "4294967296", "18446744073709551615", "1.0", "\"3\""}) {
    SCOPED_TRACE(version);
    std::string error;
    std::optional<HostEvent> event;
    EXPECT_NO_THROW(event = HostEvent::Parse(LineWithIoaVersion(version), error));
    EXPECT_FALSE(event.has_value());
    EXPECT_EQ(error, "an IOA is not {guid, version, isMarkable, isAlertable, isQdxStatExpected}");
  }
  for (const auto& [text, version] : {std::pair{"0", 0u}, std::pair{"4294967295", 4294967295u}}) {
    SCOPED_TRACE(text);
    std::string error;
    const std::optional<HostEvent> event = HostEvent::Parse(LineWithIoaVersion(text), error);
    ASSERT_TRUE(event.has_value()) << error;
    ASSERT_EQ(event->ioas.size(), 1u);
    EXPECT_EQ(event->ioas[0].version, version);
    EXPECT_TRUE(event->ioas[0].isMarkable);
  }
}

// simdjson's reading and Boost.JSON's agree member for member, and on the
// event's values; a line simdjson refuses is read by Boost.JSON.
TEST(HostEvent, BothReadingsAgree) {
  for (const std::string line : {
           R"({"eventType":"A","throttlingId":7,"ioas":[{"guid":"g","version":2,"isMarkable":true,)"
           R"("isAlertable":false,"isQdxStatExpected":true}],"event":{"x":1.5,"s":"\u00e9\n\"","n":[null,{}]}})",
           R"({"eventType":"A","eventType":"B","event":{"a":1},"event":{"b":-2,"c":3.0e1},"extra":[1]})",
           R"({"eventType":"\ud83d\ude00","event":{"big":123456789012345678901234567890}})",
           R"( {"eventType":"A", "throttlingId":4294967295, "event": { "a" : [ 1 , 2 ] } } )",
           R"({"s":"}{\"]","eventType":"A","event":{"a":"}{\"]\\"},"\u0065vent":{"b":"x"}})"}) {
    SCOPED_TRACE(line);
    std::string error;
    const std::optional<HostEvent> event = HostEvent::Parse(line, error);
    const std::optional<HostEvent> reference = HostEvent::ParseWithBoostJson(line, error);
    ASSERT_TRUE(event && reference) << error;
    EXPECT_EQ(event->eventType, reference->eventType);
    EXPECT_EQ(event->throttlingId, reference->throttlingId);
    ASSERT_EQ(event->ioas.size(), reference->ioas.size());
    for (std::size_t i = 0; i < event->ioas.size(); ++i) {
      EXPECT_EQ(event->ioas[i].guid, reference->ioas[i].guid);
      EXPECT_EQ(event->ioas[i].version, reference->ioas[i].version);
      EXPECT_EQ(event->ioas[i].isMarkable, reference->ioas[i].isMarkable);
      EXPECT_EQ(event->ioas[i].isAlertable, reference->ioas[i].isAlertable);
      EXPECT_EQ(event->ioas[i].isQdxStatExpected, reference->ioas[i].isQdxStatExpected);
    }
    EXPECT_EQ(boost::json::parse(sendara::base::ToUtf8(event->text)),
              boost::json::parse(sendara::base::ToUtf8(reference->text)));
    EXPECT_EQ(event->text.find(u' '), std::u16string::npos);
  }
}

// An escaped lone surrogate, which a file name on the agent's platform can
// hold, reads as U+FFFD wherever it stands, as in the component; raw bytes
// that are not UTF-8 are refused as such, with their place.
TEST(HostEvent, LoneSurrogateEscapesReadAsReplacementCharactersAndOtherBytesAsNotUtf8) {
  for (const auto& [line, text] : {
           std::pair{R"({"eventType":"A","event":{"f":"\ud800"}})", R"({"f":"\uFFFD"})"},
           std::pair{R"({"eventType":"A","event":{"f":"\uDFAAx\uD800\n"}})", R"({"f":"\uFFFDx\uFFFD\n"})"},
           std::pair{R"({"eventType":"\ud800","event":{"\udc00":1}})", R"({"\uFFFD":1})"}}) {
    SCOPED_TRACE(line);
    std::string error;
    const std::optional<HostEvent> event = HostEvent::Parse(line, error);
    ASSERT_TRUE(event.has_value()) << error;
    EXPECT_EQ(boost::json::parse(sendara::base::ToUtf8(event->text)), boost::json::parse(text));
  }
  for (const auto& [line, at] : {std::pair{std::string("{\"eventType\":\"A\xff\",\"event\":{}}"), 15},
                                 std::pair{std::string("{\"eventType\":\"\xed\xa0\x80\",\"event\":{}}"), 14},
                                 std::pair{std::string("{\"eventType\":\"A\",\"event\":{\"x\":\"\xc3\"}}"), 31}}) {
    std::string error;
    EXPECT_FALSE(HostEvent::Parse(line, error).has_value());
    EXPECT_EQ(error, "not UTF-8 at byte " + std::to_string(at));
  }
}

// The event goes as written but for whitespace, whichever parser read the
// line: Boost.JSON would write a number beyond a double's range as Infinity,
// which is not JSON, and respell every other number.
TEST(HostEvent, TheEventGoesAsWrittenWhicheverParserReadsTheLine) {
  for (const std::string line : {
           R"({"eventType":"A","event":{ "big" : 123456789012345678901234567890, "inf" : [ 1e400, -1E400 ] }})",
           R"({"\u0065ventType":"A","event":{"a":1},"\u0065vent":{"big":123456789012345678901234567890,)"
           R"( "inf": [1e400, -1E400]}})"}) {
    SCOPED_TRACE(line);
    std::string error;
    const std::optional<HostEvent> event = HostEvent::Parse(line, error);
    ASSERT_TRUE(event.has_value()) << error;
    EXPECT_EQ(sendara::base::ToUtf8(event->text), R"({"big":123456789012345678901234567890,"inf":[1e400,-1E400]})");
  }
  // White space goes only where it stands outside strings; an event written
  // compact is the same text.
  for (const auto& [line, text] : {
           std::pair{R"({"\u0065ventType":"A","event":{"x": 1.50}})", R"({"x":1.50})"},
           std::pair{R"({"eventType":"A","event":{"cmd":"a \" b","p":"C:\\Program Files\\","s":"\\\" {"}})",
                     R"({"cmd":"a \" b","p":"C:\\Program Files\\","s":"\\\" {"})"},
           std::pair{"{\"eventType\":\"A\",\"event\":{\"cmd\":\"a b\",\t\"n\":\r\n[1 ,\"c d\"]}}",
                     R"({"cmd":"a b","n":[1,"c d"]})"}}) {
    std::string error;
    const std::optional<HostEvent> event = HostEvent::Parse(line, error);
    ASSERT_TRUE(event.has_value()) << line << ": " << error;
    EXPECT_EQ(sendara::base::ToUtf8(event->text), text) << line;
  }
}

// simdjson reads a number with a ten-digit exponent as zero, Boost.JSON
// refuses it: the line is malformed in both readings. One in a string only
// looks like it.
TEST(HostEvent, BothReadingsRefuseANumberWithATenDigitExponent) {
  for (const std::string line : {R"({"eventType":"A","event":{"z":0e3046744073709551616}})",
                                 R"({"eventType":"A","event":{"s":"1e-2147483648","z":[1e-2147483648]}})"}) {
    SCOPED_TRACE(line);
    std::string fastError;
    std::string referenceError;
    EXPECT_FALSE(HostEvent::Parse(line, fastError).has_value());
    EXPECT_FALSE(HostEvent::ParseWithBoostJson(line, referenceError).has_value());
    EXPECT_EQ(fastError, referenceError);
    EXPECT_TRUE(fastError.starts_with("not JSON")) << fastError;
  }
  std::string error;
  const std::optional<HostEvent> event =
      HostEvent::Parse(R"({"eventType":"A","event":{"s":"1e-2147483648","z":0.0}})", error);
  ASSERT_TRUE(event.has_value()) << error;
  EXPECT_EQ(sendara::base::ToUtf8(event->text), R"({"s":"1e-2147483648","z":0.0})");
}

// Lines nest at most as deep as Boost.JSON reads them by default; a deeper
// line is malformed in both readings, however the event below looks.
TEST(HostEvent, BothReadingsRefuseALineNestedBeyondTheLimit) {
  const auto line = [](std::size_t levels) {  // the line itself and "event" are two
    return R"({"eventType":"A","event":{"a":)" + std::string(levels - 2, '[') + std::string(levels - 2, ']') + "}}";
  };
  std::string error;
  const std::optional<HostEvent> atLimit = HostEvent::Parse(line(32), error);
  ASSERT_TRUE(atLimit.has_value()) << error;
  EXPECT_EQ(sendara::base::ToUtf8(atLimit->text), R"({"a":)" + std::string(30, '[') + std::string(30, ']') + "}");
  EXPECT_TRUE(HostEvent::ParseWithBoostJson(line(32), error).has_value()) << error;
  for (const std::size_t levels : {33, 40}) {
    SCOPED_TRACE(levels);
    std::string fastError;
    std::string referenceError;
    EXPECT_FALSE(HostEvent::Parse(line(levels), fastError).has_value());
    EXPECT_FALSE(HostEvent::ParseWithBoostJson(line(levels), referenceError).has_value());
    EXPECT_EQ(fastError, referenceError);
    EXPECT_TRUE(fastError.starts_with("not JSON")) << fastError;
  }
}

// A line beyond the maximum comes cut (unparsable) and its rest is skipped,
// so that an input without line feeds cannot take all memory; the lines
// around it come whole, the last one without its line feed too.
TEST(InputLines, ALineBeyondTheMaximumIsCutAndTheRestSkipped) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string input = "first\n" + std::string(200000, 'x') + "\n" + std::string(10, 'y') + "\nlast";
  std::thread writer([&] {
    EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fds[1]);
  });
  const std::atomic<bool> stop = false;
  reference_host::InputLines lines(fds[0], stop, 10);
  std::vector<std::string> read;
  for (std::string line; lines.Next(line);) read.push_back(line);
  writer.join();
  ::close(fds[0]);
  EXPECT_EQ(read, (std::vector<std::string>{"first", std::string(10, 'x'), std::string(10, 'y'), "last"}));
}

}  // namespace
