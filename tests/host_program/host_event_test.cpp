#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "host/program/host_event.h"

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

}  // namespace
