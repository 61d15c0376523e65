#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"
#include "host/tracer.h"
#include "connection_failure.h"
#include "finishes_in_time.h"
#include "loopback_servers.h"
#include "side_by_side_receiver.h"
#include "test_certificates.h"

namespace sendara::syslog {

// Names the protocol in a test's parameter.
void PrintTo(SyslogProtocol protocol, std::ostream* out) {
  *out << (protocol == SyslogProtocol::Tcp ? "TCP" : protocol == SyslogProtocol::EncryptedTcp ? "TLS" : "UDP");
}

}  // namespace sendara::syslog

namespace {

using namespace sendara;
using namespace sendara::syslog;

constexpr int kPasses = 4;
constexpr int kLinesPerPass = 2000;

// Line `number`, padded to about the size of a small event.
std::string Line(int number) {
  std::string line = "event " + std::to_string(number) + " ";
  line.resize(120, 'x');
  return line;
}

// One pass's package: its lines, each ended by a line feed.
std::string Package(int pass) {
  std::string package;
  for (int k = 0; k < kLinesPerPass; ++k) package += Line(pass * kLinesPerPass + k) + "\n";
  return package;
}

class SyslogPassEndTest : public ::testing::Test {
 protected:
  oru::RefPtr<ISyslogClient> Client(SyslogProtocol protocol, std::uint32_t timeoutRequest) {
    SyslogClientSettings settings;
    settings.protocol = protocol;
    settings.timeoutConnection = 5000;
    settings.timeoutRequest = timeoutRequest;
    if (protocol == SyslogProtocol::EncryptedTcp) {
      settings.serverCerts = std::vector<std::uint8_t>(m_certificates.caPem.begin(), m_certificates.caPem.end());
    }
    return m_factory.CreateSyslogClient(settings);
  }

  const TestCertificates& m_certificates = TestCertificates::Get();
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  SyslogClientFactoryImpl m_factory{oru::RefPtr<oru::ITracer>(m_tracer.Get()), nullptr, {}, {}};
};

// Over TCP and over TLS.
class SyslogPassOrderTest : public SyslogPassEndTest, public ::testing::WithParamInterface<SyslogProtocol> {
 protected:
  std::optional<SideBySideReceiver::Tls> ReceiverTls() const {
    if (GetParam() != SyslogProtocol::EncryptedTcp) return std::nullopt;
    return SideBySideReceiver::Tls{m_certificates.serverCertPem, m_certificates.serverKeyPem};
  }
};

// Each pass writes its package on a connection of its own and ends it. The
// receiver reads its connections side by side and is slower than the
// client: had the next pass connected before the receiver was through with
// the last one, the first lines of a pass would be written out before the
// last ones of the pass before.
TEST_P(SyslogPassOrderTest, PassesReachAReceiverReadingSideBySideInTheOrderSent) {
  SideBySideReceiver receiver(ReceiverTls());
  auto client = Client(GetParam(), 20000);  // a bound far above what the receiver needs
  const SyslogServer destination{"127.0.0.1", receiver.Port()};
  for (int pass = 0; pass < kPasses; ++pass) {
    client->MakeRequestAsync(destination, Package(pass));
    ASSERT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError);
  }

  ASSERT_TRUE(receiver.WaitForLines(kPasses * kLinesPerPass));
  const std::vector<std::string> lines = receiver.Lines();
  ASSERT_EQ(lines.size(), std::size_t{kPasses * kLinesPerPass});
  int outOfOrder = 0;
  std::string firstOutOfOrder;
  for (int k = 0; k < kPasses * kLinesPerPass; ++k) {
    if (lines[k] == Line(k)) continue;
    if (outOfOrder++ == 0) firstOutOfOrder = "line " + std::to_string(k) + " is \"" + lines[k].substr(0, 12) + "\"";
  }
  EXPECT_EQ(outOfOrder, 0) << "first: " << firstOutOfOrder;
  EXPECT_EQ(receiver.Accepted(), kPasses);
  EXPECT_EQ(m_tracer->Count("did not close its end in time"), 0u);
}

// A server that never reads never sees the client's end, and never closes:
// the end of the pass gives up on it after the request time-out, and the
// next pass connects anew.
TEST_F(SyslogPassEndTest, EndOfPassGivesUpOnAServerThatNeverCloses) {
  LoopbackTcpServer server(LoopbackTcpServer::Mode::kNeverRead);
  auto client = Client(SyslogProtocol::Tcp, 300);
  const SyslogServer destination{"127.0.0.1", server.Port()};
  client->MakeRequestAsync(destination, "a\n");
  EXPECT_TRUE(FinishesInTime([client] { EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError); }));
  EXPECT_EQ(m_tracer->Count("did not close its end in time"), 1u);
  EXPECT_NO_THROW(client->MakeRequestAsync(destination, "b\n"));
}

// A send that fails drops its connection at once; the end of the pass still
// waits for that connection's close, as for the others.
TEST_F(SyslogPassEndTest, EndOfPassWaitsForTheCloseOfAConnectionAFailedSendDropped) {
  LoopbackTcpServer server(LoopbackTcpServer::Mode::kNeverRead);
  auto client = Client(SyslogProtocol::Tcp, 300);
  const SyslogServer destination{"127.0.0.1", server.Port()};
  const std::string huge(64 << 20, 'x');  // far more than the socket buffers hold
  ASSERT_TRUE(ConnectionFailureOf([&] { client->MakeRequestAsync(destination, huge); }).has_value());
  EXPECT_TRUE(FinishesInTime([client] { EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError); }));
  EXPECT_EQ(m_tracer->Count("did not close its end in time"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Streams, SyslogPassOrderTest,
                         ::testing::Values(SyslogProtocol::Tcp, SyslogProtocol::EncryptedTcp),
                         [](const auto& info) { return info.param == SyslogProtocol::Tcp ? "Tcp" : "Tls"; });

}  // namespace
