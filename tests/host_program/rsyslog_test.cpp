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

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include "child_process.h"
#include "host_program_support.h"
#include "sink_process.h"
#include "temp_directory.h"
#include "test_certificates.h"

namespace {

const std::filesystem::path kRsyslogd = "/usr/sbin/rsyslogd";
const std::string kWarmUp = "warm-up";

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

// One private rsyslogd on loopback ports, writing what each input gets to
// one file, a line each, behind the input's name.
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
    ASSERT_TRUE(std::filesystem::exists(kRsyslogd))
        << kRsyslogd << " is missing: scripts/bootstrap.sh installs rsyslog and rsyslog-openssl";
    const TestCertificates& certificates = TestCertificates::Get();
    WriteText(m_dir.Path() / "ca.pem", certificates.caPem);
    WriteText(m_dir.Path() / "server.pem", certificates.serverCertPem);
    WriteText(m_dir.Path() / "server-key.pem", certificates.serverKeyPem);
    std::filesystem::create_directory(m_dir.Path() / "work");
    // This imudp cannot write down a port it chose: it gets the one a socket
    // of ours just had.
    boost::asio::io_context io;
    const auto udpPort =
        boost::asio::ip::udp::socket(io, {boost::asio::ip::make_address("127.0.0.1"), 0}).local_endpoint().port();
    const std::string dir = m_dir.Path().string();
    // The events come without a syslog header, one per line or datagram, so
    // the raw message (the framing removed) is the event itself; %msg% is
    // whatever a parser leaves after taking a header apart. The largest
    // example event is close to the default limit of 8k. Escaping is off so
    // that the file holds the bytes that came. The UDP receive buffer holds
    // a burst of the examples, as our sink's does, or a busy machine loses
    // datagrams.
    std::string config = R"(
global(workDirectory="@DIR@/work" maxMessageSize="64k" parser.escapeControlCharactersOnReceive="off")
module(load="imudp")
module(load="imptcp")
module(load="imtcp")
template(name="event" type="string" string="%inputname% %rawmsg%\n")
ruleset(name="events") {
  action(type="omfile" file="@DIR@/received.txt" template="event" asyncWriting="off" flushOnTXEnd="on")
}
input(type="imudp" address="127.0.0.1" port="@UDP_PORT@" rcvbufSize="4m" ruleset="events")
input(type="imptcp" address="127.0.0.1" port="0" listenPortFileName="@DIR@/tcp.port" ruleset="events")
input(type="imtcp" address="127.0.0.1" port="0" listenPortFileName="@DIR@/tls.port" ruleset="events"
      streamDriver.name="ossl" streamDriver.mode="1" streamDriver.authMode="anon"
      streamDriver.CAFile="@DIR@/ca.pem" streamDriver.CertFile="@DIR@/server.pem"
      streamDriver.KeyFile="@DIR@/server-key.pem")
)";
    const std::pair<std::string, std::string> values[]{{"@DIR@", dir}, {"@UDP_PORT@", std::to_string(udpPort)}};
    for (const auto& [name, value] : values) {
      for (std::size_t at = 0; (at = config.find(name, at)) != std::string::npos; at += value.size()) {
        config.replace(at, name.size(), value);
      }
    }
    WriteText(m_dir.Path() / "rsyslog.conf", config);
    ChildProcess::Options options;
    options.stdoutFile = m_dir.Path() / "rsyslogd.out";
    options.stderrFile = m_dir.Path() / "rsyslogd.err";
    m_rsyslogd = std::make_unique<ChildProcess>(
        kRsyslogd, std::vector<std::string>{"-n", "-f", dir + "/rsyslog.conf", "-i", dir + "/rsyslogd.pid"}, options);
    const auto port = [&](const char* file) { return std::atoi(ReadText(m_dir.Path() / file).c_str()); };
    WaitUntil([&] { return !m_rsyslogd->Running() || (port("tcp.port") > 0 && port("tls.port") > 0); });
    ASSERT_TRUE(m_rsyslogd->Running() && port("tcp.port") > 0 && port("tls.port") > 0)
        << "rsyslogd did not start: " << ReadText(m_dir.Path() / "rsyslogd.err");
    m_ports = {{"TCP", port("tcp.port")}, {"TCP_TLS", port("tls.port")}, {"UDP", udpPort}};
    // The output file is opened before any TLS session ends: this rsyslogd's
    // TLS driver closes a finished session's socket twice, and a file opened
    // in between would be closed by the second close, its lines written into
    // the next socket that gets the number.
    boost::asio::ip::udp::socket sender(io, boost::asio::ip::udp::v4());
    ASSERT_TRUE(WaitUntil([&] {
      sender.send_to(boost::asio::buffer(kWarmUp), {boost::asio::ip::make_address("127.0.0.1"), udpPort});
      return ReadText(m_dir.Path() / "received.txt").starts_with("imudp " + kWarmUp);
    })) << "rsyslogd does not write what it receives: " << ReadText(m_dir.Path() / "rsyslogd.err");
  }

  // What rsyslogd wrote for the input the protocol reaches.
  std::vector<std::string> Received(const std::string& protocol) {
    static const std::map<std::string, std::string> kInputs{
        {"TCP", "imptcp "}, {"TCP_TLS", "imtcp "}, {"UDP", "imudp "}};
    const std::string& input = kInputs.at(protocol);
    std::vector<std::string> events;
    for (const std::string& line : Lines(ReadText(m_dir.Path() / "received.txt"))) {
      if (line.starts_with(input) && line != "imudp " + kWarmUp) events.push_back(line.substr(input.size()));
    }
    return events;
  }

  TempDirectory m_dir;
  std::unique_ptr<ChildProcess> m_rsyslogd;
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
        << Received(protocol).size() << " received; " << ReadText(m_dir.Path() / "rsyslogd.err");
  }
  // Stopped before the file is compared: a late copy would show.
  m_rsyslogd->Terminate();
  EXPECT_EQ(m_rsyslogd->Wait(), 0) << ReadText(m_dir.Path() / "rsyslogd.err");
  for (const auto& [protocol, port] : m_ports) {
    SCOPED_TRACE(protocol);
    const std::vector<std::string> received = Received(protocol);
    EXPECT_EQ(received.size(), handedOver.size());
    EXPECT_EQ(Difference(handedOver, received), "");
    EXPECT_TRUE(std::any_of(received.begin(), received.end(), HasNonAscii));
  }
}

}  // namespace
