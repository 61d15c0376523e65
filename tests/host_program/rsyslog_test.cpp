// The host program against the distribution's syslog daemon: a receiver we
// did not write must get what the host hands over, byte for byte.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "host_program_support.h"
#include "private_rsyslogd.h"
#include "sink_process.h"
#include "temp_directory.h"
#include "test_certificates.h"

namespace {

// Empty when both hold the same lines as often; else how many `received`
// lacks and holds beyond `expected`, with the first of each.
std::string Difference(std::vector<std::string> expected, std::vector<std::string> received) {
  std::sort(expected.begin(), expected.end());
  std::sort(received.begin(), received.end());
  std::vector<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), received.begin(), received.end(), std::back_inserter(missing));
  std::set_difference(received.begin(), received.end(), expected.begin(), expected.end(), std::back_inserter(extra));
  if (missing.empty() && extra.empty()) return "";
  const auto first = [](const std::vector<std::string>& lines) { return lines.empty() ? "" : lines[0].substr(0, 200); };
  return std::to_string(missing.size()) + " missing, such as " + first(missing) + "\n" + std::to_string(extra.size()) +
         " unexpected, such as " + first(extra);
}

bool HasNonAscii(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x80; });
}

// One private rsyslogd with an input for each protocol.
class RsyslogTest : public ::testing::Test {
 protected:
  // What the host hands over, as our own sink writes it.
  std::vector<std::string> HandedOverToSink() {
    TempDirectory dir;
    SinkProcess sink(dir.Path(), {"--tcp", "0"});
    const std::filesystem::path config = ExampleConfig(dir.Path(), "TCP", sink.Port("tcp"));
    EXPECT_EQ(RunHost(dir.Path(), config, m_events, {"--linger", "3"}), 0) << ReadText(dir.Path() / "host.err");
    return sink.Stop();
  }

  void StartRsyslog() {
    const TestCertificates& certificates = TestCertificates::Get();
    WriteText(m_dir.Path() / "ca.pem", certificates.caPem);
    WriteText(m_dir.Path() / "server.pem", certificates.serverCertPem);
    WriteText(m_dir.Path() / "server-key.pem", certificates.serverKeyPem);
    const std::string inputs = R"(
input(type="imptcp" address="127.0.0.1" port="0" listenPortFileName="@DIR@/tcp.port" ruleset="events")
input(type="imtcp" address="127.0.0.1" port="0" listenPortFileName="@DIR@/tls.port" ruleset="events"
      streamDriver.name="ossl" streamDriver.mode="1" streamDriver.authMode="anon"
      streamDriver.CAFile="@DIR@/ca.pem" streamDriver.CertFile="@DIR@/server.pem"
      streamDriver.KeyFile="@DIR@/server-key.pem")
)";
    const std::string failure = m_rsyslogd.Start(inputs, {"tcp.port", "tls.port"});
    ASSERT_EQ(failure, "");
    m_ports = {{"TCP", m_rsyslogd.Port("tcp.port")},
               {"TCP_TLS", m_rsyslogd.Port("tls.port")},
               {"UDP", m_rsyslogd.UdpPort()}};
  }

  // What rsyslogd wrote for the input the protocol reaches.
  std::vector<std::string> Received(const std::string& protocol) const {
    static const std::map<std::string, std::string> kInputs{{"TCP", "imptcp"}, {"TCP_TLS", "imtcp"}, {"UDP", "imudp"}};
    return m_rsyslogd.Received(kInputs.at(protocol));
  }

  TempDirectory m_dir;
  PrivateRsyslogd m_rsyslogd{m_dir.Path()};
  std::map<std::string, int> m_ports;
  const std::string m_events = std::string(EDR_EXAMPLES_DIR) + "/events.ndjson";
};

// Each accepted example arrives once and intact over each protocol, UTF-8
// included.
TEST_F(RsyslogTest, ExamplesArriveIntactOverEachProtocol) {
  const std::vector<std::string> handedOver = HandedOverToSink();
  ASSERT_EQ(handedOver.size(), 323u);
  ASSERT_NO_FATAL_FAILURE(StartRsyslog());
  for (const auto& [protocol, port] : m_ports) {
    SCOPED_TRACE(protocol);
    ASSERT_EQ(RunHost(m_dir.Path(), ExampleConfig(m_dir.Path(), protocol, port), m_events, {"--linger", "3"}), 0)
        << ReadText(m_dir.Path() / "host.err");
    const boost::json::object summary = ReadJson(m_dir.Path() / "summary.json");
    EXPECT_EQ(Number(summary, "handedOver"), 323);
    EXPECT_EQ(Number(summary, "leftInSpool"), 0);
    EXPECT_TRUE(WaitUntil([&] { return Received(protocol).size() >= handedOver.size(); }))
        << Received(protocol).size() << " received; " << m_rsyslogd.Errors();
  }
  // Stopped before the file is compared: a late copy would show.
  EXPECT_EQ(m_rsyslogd.Stop(), 0) << m_rsyslogd.Errors();
  for (const auto& [protocol, port] : m_ports) {
    SCOPED_TRACE(protocol);
    const std::vector<std::string> received = Received(protocol);
    EXPECT_EQ(received.size(), handedOver.size());
    EXPECT_EQ(Difference(handedOver, received), "");
    EXPECT_TRUE(std::any_of(received.begin(), received.end(), HasNonAscii));
  }
}

}  // namespace
