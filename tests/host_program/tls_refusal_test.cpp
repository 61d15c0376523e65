// The host program over syslog TLS against servers that it must refuse or
// that refuse it: our loopback sink and the distribution's rsyslogd, each set
// up for one failure at a time. A recording relay between the host and the
// server sees what the host puts on the wire.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "child_process.h"
#include "host_program_support.h"
#include "private_rsyslogd.h"
#include "recording_relay.h"
#include "sink_process.h"
#include "temp_directory.h"
#include "test_certificates.h"

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kEvents = 5;

// One server, set up to fail the host in one way, or to take its events.
struct Case {
  // Letters, digits and '_': also the name of the case's rsyslogd input.
  std::string name{};
  std::string certificatePem{};
  std::string keyPem{};
  // When set, the server requires a client certificate issued by this CA.
  std::string clientCaPem{};
  // When set, the one TLS version the server offers ("1.0" to "1.3").
  std::string tlsVersion{};
  // The host presents the client certificate, issued by the trusted CA.
  bool hostCertificate = false;
  // No TLS server at all: the relay answers in plain text.
  bool plain = false;
  // The connection error the host hears; empty when the server takes the
  // events.
  std::string reason{};
  // rsyslogd can be set up for it.
  bool rsyslog = true;
};

std::vector<Case> Cases() {
  const TestCertificates& c = TestCertificates::Get();
  const std::string server = "invalidServerCertificate", client = "invalidClientCertificate";
  return {
      {.name = "accepted", .certificatePem = c.serverCertPem, .keyPem = c.serverKeyPem, .clientCaPem = c.caPem,
       .hostCertificate = true},
      {.name = "untrusted_ca", .certificatePem = c.untrustedServerCertPem, .keyPem = c.untrustedServerKeyPem,
       .reason = server},
      {.name = "expired", .certificatePem = c.expiredCertPem, .keyPem = c.expiredKeyPem, .reason = server},
      {.name = "wrong_name", .certificatePem = c.wrongNameCertPem, .keyPem = c.wrongNameKeyPem, .reason = server},
      // A protocol failure, not a certificate's: the host offers TLS 1.1 and
      // later.
      {.name = "tls10_only", .certificatePem = c.serverCertPem, .keyPem = c.serverKeyPem, .tlsVersion = "1.0",
       .reason = "other"},
      // TLS 1.2 tells of a refusal in the handshake, TLS 1.3 only after it.
      {.name = "no_client_certificate_tls12", .certificatePem = c.serverCertPem, .keyPem = c.serverKeyPem,
       .clientCaPem = c.caPem, .tlsVersion = "1.2", .reason = client},
      {.name = "no_client_certificate_tls13", .certificatePem = c.serverCertPem, .keyPem = c.serverKeyPem,
       .clientCaPem = c.caPem, .tlsVersion = "1.3", .reason = client},
      {.name = "untrusted_client_certificate_tls12", .certificatePem = c.serverCertPem, .keyPem = c.serverKeyPem,
       .clientCaPem = c.untrustedCaPem, .tlsVersion = "1.2", .hostCertificate = true, .reason = client},
      {.name = "untrusted_client_certificate_tls13", .certificatePem = c.serverCertPem, .keyPem = c.serverKeyPem,
       .clientCaPem = c.untrustedCaPem, .tlsVersion = "1.3", .hostCertificate = true, .reason = client},
      {.name = "plain_tcp", .plain = true, .reason = "other", .rsyslog = false},
  };
}

// Events the example configuration keeps, each with a text of its own that
// must never be seen on the wire.
std::vector<std::string> EventTexts() {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < kEvents; ++i) {
    const std::string marker = "tls-refusal-marker-" + std::to_string(i);
    texts.push_back(boost::json::serialize(boost::json::object{{"eventType", "FileWrite"},
                                                               {"throttlingId", 7000 + i},
                                                               {"hostName", "WS-TLS-REFUSAL"},
                                                               {"path", "C:\\Reports\\" + marker + ".docx"},
                                                               {"marker", marker}}));
  }
  return texts;
}

std::filesystem::path WriteEvents(const std::filesystem::path& dir, const std::vector<std::string>& texts) {
  std::string lines;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    lines += R"({"eventType":"FileWrite","throttlingId":)" + std::to_string(7000 + i) + R"(,"ioas":[],"event":)" +
             texts[i] + "}\n";
  }
  const std::filesystem::path path = dir / "events.ndjson";
  WriteText(path, lines);
  return path;
}

// The TLS records in `bytes`: their content types, or none when the bytes
// are no whole records.
std::optional<std::vector<unsigned char>> RecordTypes(const std::string& bytes) {
  std::vector<unsigned char> types;
  std::size_t at = 0;
  while (at + 5 <= bytes.size()) {
    const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 3])) << 8) |
                               static_cast<unsigned char>(bytes[at + 4]);
    if (at + 5 + length > bytes.size()) return std::nullopt;
    types.push_back(static_cast<unsigned char>(bytes[at]));
    at += 5 + length;
  }
  if (at != bytes.size()) return std::nullopt;
  return types;
}

// What the host sent, connection by connection: each opens with a TLS
// ClientHello, and no event's text is anywhere. To a server that speaks no
// TLS it sends that ClientHello and at most alerts after it.
void ExpectNothingInClear(const std::vector<std::string>& connections, const std::vector<std::string>& texts,
                          bool plain) {
  ASSERT_FALSE(connections.empty()) << "the host never connected";
  for (const std::string& bytes : connections) {
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes[0], 0x16) << "a handshake record first";
    EXPECT_EQ(bytes[5], 0x01) << "a ClientHello first";
    for (const std::string& text : texts) {
      EXPECT_EQ(bytes.find(text), std::string::npos);
      const std::string marker = boost::json::parse(text).at("marker").as_string().c_str();
      EXPECT_EQ(bytes.find(marker), std::string::npos) << marker;
    }
    if (plain) {
      const std::optional<std::vector<unsigned char>> types = RecordTypes(bytes);
      ASSERT_TRUE(types.has_value()) << "whole TLS records only";
      for (std::size_t i = 1; i < types->size(); ++i) EXPECT_EQ((*types)[i], 0x15) << "an alert, record " << i;
    }
  }
}

// The last of the progress lines, redrawn one over the other.
std::string LastLine(const std::string& shown) {
  const std::size_t end = shown.find_last_not_of("\r\n");
  if (end == std::string::npos) return "";
  const std::size_t carriageReturn = shown.find_last_of('\r', end);
  const std::size_t start = carriageReturn == std::string::npos ? 0 : carriageReturn + 1;
  return shown.substr(start, end + 1 - start);
}

// One run of the host program: its exit code, its summary, and what its
// progress line showed.
struct HostRun {
  int exitCode = -1;
  boost::json::object summary;
  std::string shown;
};

// Runs the host program on a terminal until its progress line shows the
// first connection event and then `done` holds (each wait bounded), and
// stops it with SIGTERM. The long linger keeps it from ending by itself
// first.
HostRun RunHostUntilConnectionEvent(const std::filesystem::path& dir, const std::filesystem::path& config,
                                    const std::filesystem::path& events, const std::function<bool()>& done) {
  HostRun run;
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    if (terminal >= 0) ::close(terminal);
    return run;
  }
  ChildProcess::Options options;
  options.stdoutFile = dir / "host.out";
  options.stderrFile = ::ptsname(terminal);
  auto host = std::make_unique<ChildProcess>(
      EDR_TELEMETRY_HOST_PATH,
      std::vector<std::string>{"--config", config.string(), "--events", events.string(), "--summary-json",
                               (dir / "summary.json").string(), "--linger", "60", "--component", EDR_COMPONENT_PATH},
      options);
  std::mutex mutex;
  // Read while it runs, until the host's end closes the terminal.
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
      std::lock_guard lock(mutex);
      run.shown.append(buffer, static_cast<std::size_t>(n));
    }
  });
  const auto shows = [&](const char* text) {
    std::lock_guard lock(mutex);
    return run.shown.find(text) != std::string::npos;
  };
  WaitUntil([&] { return shows(", connected") || shows(", connection error (") || !host->Running(); });
  WaitUntil(done);
  host->Terminate();
  run.exitCode = host->WaitFor(30s).value_or(-1);
  host.reset();  // killed if it still ran: the terminal closes either way
  reader.join();
  ::close(terminal);
  run.summary = ReadJson(dir / "summary.json");
  return run;
}

class TlsRefusalTest : public ::testing::Test {
 protected:
  // A folder of its own for each run: a spool left by one run would be sent
  // by the next.
  std::filesystem::path RunFolder(const std::string& server, const Case& c) {
    const std::filesystem::path dir = m_dir.Path() / (server + "-" + c.name);
    std::filesystem::create_directories(dir);
    WriteText(dir / "ca.pem", TestCertificates::Get().caPem);
    return dir;
  }

  // The host's configuration: the example's, with one TLS endpoint on the
  // relay and a transfer time of a second.
  std::filesystem::path HostConfig(const std::filesystem::path& dir, const Case& c, std::uint16_t port) {
    const std::filesystem::path path = ExampleConfig(dir, "TCP_TLS", port);
    if (!c.hostCertificate) return path;
    const std::vector<std::uint8_t>& pkcs12 = TestCertificates::Get().clientPkcs12;
    std::ofstream(dir / "client.p12", std::ios::binary)
        .write(reinterpret_cast<const char*>(pkcs12.data()), static_cast<std::streamsize>(pkcs12.size()));
    boost::json::object config = ReadJson(path);
    config["clientCertificate"] = {{"pkcs12File", (dir / "client.p12").string()},
                                   {"password", std::string(TestCertificates::kPkcs12Password)}};
    WriteText(path, boost::json::serialize(config));
    return path;
  }

  // Runs the host against the relay and checks what it heard and sent.
  // `received` counts the events the server has written so far.
  void RunAndCheck(const std::string& server, const Case& c, RecordingRelay& relay,
                   const std::function<std::size_t()>& received) {
    const std::filesystem::path dir = RunFolder(server, c);
    const HostRun run = RunHostUntilConnectionEvent(dir, HostConfig(dir, c, relay.Port()), m_events,
                                                    [&] { return !c.reason.empty() || received() >= kEvents; });
    // A refused connection delivers nothing, and what was handed over waits
    // in the spool.
    ASSERT_EQ(run.exitCode, c.reason.empty() ? 0 : 5) << run.shown.substr(run.shown.size() - std::min<std::size_t>(run.shown.size(), 2000));
    EXPECT_EQ(Number(run.summary, "handedOver"), static_cast<std::int64_t>(kEvents)) << LastLine(run.shown);
    const boost::json::value* errors = run.summary.if_contains("connectionErrors");
    ASSERT_TRUE(errors && errors->is_object()) << boost::json::serialize(run.summary);
    if (c.reason.empty()) {
      EXPECT_GE(Number(run.summary, "connected"), 1);
      EXPECT_TRUE(errors->as_object().empty()) << boost::json::serialize(*errors);
      EXPECT_EQ(Number(run.summary, "leftInSpool"), 0);
    } else {
      // Delivered nothing: whatever was handed over waits in the spool. The
      // host may have tried again before it stopped, for the same reason;
      // a try that the stop cuts short is no connection error.
      EXPECT_EQ(Number(run.summary, "connected"), 0);
      EXPECT_EQ(errors->as_object().size(), 1u) << boost::json::serialize(*errors);
      EXPECT_GE(Number(errors->as_object(), c.reason), 1) << boost::json::serialize(*errors);
      EXPECT_EQ(Number(run.summary, "leftInSpool"), static_cast<std::int64_t>(kEvents));
    }
    ExpectNothingInClear(relay.ClientBytes(), m_texts, c.plain);
  }

  TempDirectory m_dir;
  const std::vector<std::string> m_texts = EventTexts();
  const std::filesystem::path m_events = WriteEvents(m_dir.Path(), m_texts);
};

// Each case against a sink of its own; the plain TCP port is the relay alone.
TEST_F(TlsRefusalTest, SinkRefusedOrRefusingReceivesNothing) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    if (c.plain) {
      RecordingRelay relay(std::nullopt);
      RunAndCheck("sink", c, relay, [] { return std::size_t{0}; });
      continue;
    }
    const std::filesystem::path dir = RunFolder("sink-server", c);
    WriteText(dir / "server.pem", c.certificatePem);
    WriteText(dir / "server-key.pem", c.keyPem);
    std::vector<std::string> arguments{"--tls", "0", "--certificate", (dir / "server.pem").string(), "--key",
                                       (dir / "server-key.pem").string()};
    if (!c.clientCaPem.empty()) {
      WriteText(dir / "client-ca.pem", c.clientCaPem);
      arguments.insert(arguments.end(), {"--client-ca", (dir / "client-ca.pem").string()});
    }
    if (!c.tlsVersion.empty()) arguments.insert(arguments.end(), {"--tls-version", c.tlsVersion});
    SinkProcess sink(dir, arguments);
    RecordingRelay relay(static_cast<std::uint16_t>(sink.Port("tls")));
    const auto received = [&] { return sink.Received().size(); };

    RunAndCheck("sink", c, relay, received);
    const std::vector<std::string> lines = sink.Stop();
    EXPECT_EQ(Number(sink.Summary(), "received"), static_cast<std::int64_t>(c.reason.empty() ? kEvents : 0));
    EXPECT_EQ(lines, c.reason.empty() ? m_texts : std::vector<std::string>{});
  }
}

// The cases rsyslogd can play, each on an input of its own of one rsyslogd.
// Its ossl driver takes OpenSSL configuration commands where the GnuTLS
// driver takes a priority string.
TEST_F(TlsRefusalTest, RsyslogRefusedOrRefusingReceivesNothing) {
  std::vector<Case> cases;
  for (const Case& c : Cases()) {
    if (c.rsyslog) cases.push_back(c);
  }
  PrivateRsyslogd rsyslogd(m_dir.Path());
  std::string inputs;
  std::vector<std::string> portFiles;
  for (const Case& c : cases) {
    WriteText(m_dir.Path() / (c.name + "-cert.pem"), c.certificatePem);
    WriteText(m_dir.Path() / (c.name + "-key.pem"), c.keyPem);
    WriteText(m_dir.Path() / (c.name + "-ca.pem"),
              c.clientCaPem.empty() ? TestCertificates::Get().caPem : c.clientCaPem);
    std::string commands;
    if (c.tlsVersion == "1.0") {
      // TLS 1.0 signs with SHA-1, which OpenSSL 3 allows at security level 0 only.
      commands = R"(MinProtocol=TLSv1\nMaxProtocol=TLSv1\nCipherString=DEFAULT@SECLEVEL=0)";
    } else if (!c.tlsVersion.empty()) {
      commands = "MinProtocol=TLSv" + c.tlsVersion + "\\nMaxProtocol=TLSv" + c.tlsVersion;
    }
    const std::string& n = c.name;
    inputs += "input(type=\"imtcp\" name=\"" + n + "\" address=\"127.0.0.1\" port=\"0\" listenPortFileName=\"@DIR@/" +
              n + ".port\" ruleset=\"events\" streamDriver.name=\"ossl\" streamDriver.mode=\"1\"" +
              " streamDriver.authMode=\"" + (c.clientCaPem.empty() ? "anon" : "x509/certvalid") + "\"" +
              " streamDriver.CAFile=\"@DIR@/" + n + "-ca.pem\" streamDriver.CertFile=\"@DIR@/" + n + "-cert.pem\"" +
              " streamDriver.KeyFile=\"@DIR@/" + n + "-key.pem\"" +
              (commands.empty() ? "" : " gnutlsPriorityString=\"" + commands + "\"") + ")\n";
    portFiles.push_back(n + ".port");
  }
  const std::string failure = rsyslogd.Start(inputs, portFiles);
  ASSERT_EQ(failure, "");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingRelay relay(static_cast<std::uint16_t>(rsyslogd.Port(c.name + ".port")));
    RunAndCheck("rsyslogd", c, relay, [&] { return rsyslogd.Received(c.name).size(); });
  }
  // Stopped before its output is read: a late line would show.
  EXPECT_EQ(rsyslogd.Stop(), 0) << rsyslogd.Errors();
  for (const Case& c : cases) {
    EXPECT_EQ(rsyslogd.Received(c.name), c.reason.empty() ? m_texts : std::vector<std::string>{}) << c.name;
  }
}

}  // namespace
