#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/certificates/pkcs12_to_pem.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"
#include "host/client_certificate_decryptor.h"
#include "host/tracer.h"
#include "connection_failure.h"
#include "loopback_servers.h"
#include "loopback_tls_server.h"
#include "test_certificates.h"

namespace {

using namespace sendara;
using namespace sendara::syslog;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
sendara::base::SecretBytes Secret(const std::string& text) { return {text.begin(), text.end()}; }

class SyslogTlsTest : public ::testing::Test {
 protected:
  const TestCertificates& m_certificates = TestCertificates::Get();

  SyslogClientSettings Settings(std::uint32_t timeoutConnection = 3000) const {
    SyslogClientSettings settings;
    settings.protocol = SyslogProtocol::EncryptedTcp;
    settings.timeoutConnection = timeoutConnection;
    settings.timeoutRequest = 3000;
    settings.serverCerts = Bytes(m_certificates.caPem);
    return settings;
  }
  oru::RefPtr<ISyslogClient> Client(bool withClientCertificate = false, std::uint32_t timeoutConnection = 3000) {
    SyslogClientSettings settings = Settings(timeoutConnection);
    if (withClientCertificate) {
      settings.clientCert = SyslogClientSettings::ClientCertificate{Secret(m_certificates.clientKeyPem),
                                                                    m_certificates.clientCertPem};
    }
    return m_factory.CreateSyslogClient(settings);
  }
  LoopbackTlsServer::Options Server(const std::string& certificate, const std::string& key) const {
    LoopbackTlsServer::Options options;
    options.certificatePem = certificate;
    options.keyPem = key;
    return options;
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  oru::RefPtr<reference_host::ClientCertificateDecryptor> m_decryptor =
      reference_host::ClientCertificateDecryptor::Create();
  SyslogClientFactoryImpl m_factory{oru::RefPtr<oru::ITracer>(m_tracer.Get()), nullptr, {},
                                    oru::RefPtr<oru::IClientCertificateDecryptor>(m_decryptor.Get())};
};

TEST_F(SyslogTlsTest, ServerThatChainsToTheConfiguredCaReceivesTheMessages) {
  LoopbackTlsServer server(Server(m_certificates.serverCertPem, m_certificates.serverKeyPem));
  auto client = Client();
  client->MakeRequestAsync({"127.0.0.1", server.Port()}, "a\nb\n");
  client->MakeRequestAsync({"127.0.0.1", server.Port()}, "c\n");
  ASSERT_TRUE(server.WaitFor(6));
  EXPECT_EQ(server.Received(), "a\nb\nc\n");
  EXPECT_EQ(server.Handshakes(), 1);
  EXPECT_EQ(client->CloseConnections(), oru::rc::NoError);
  EXPECT_EQ(m_decryptor->Calls(), 0u);  // no client certificate configured
}

TEST_F(SyslogTlsTest, EndOfPassClosesWithCloseNotifyBeforeThePoolStops) {
  // The server neither answers the close_notify nor closes first: the close
  // must not wait for it.
  LoopbackTlsServer server(Server(m_certificates.serverCertPem, m_certificates.serverKeyPem));
  auto client = Client();
  client->MakeRequestAsync({"127.0.0.1", server.Port()}, "a\n");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
  EXPECT_EQ(server.WaitForEnd(), "close_notify");
  EXPECT_EQ(server.Received(), "a\n");

  // The next pass connects anew.
  client->MakeRequestAsync({"127.0.0.1", server.Port()}, "b\n");
  ASSERT_TRUE(server.WaitFor(4));
  EXPECT_EQ(server.Handshakes(), 2);
}

TEST_F(SyslogTlsTest, ServerWritingWhileTheClientClosesStillGetsEverything) {
  // A server may still write when the client ends: a TLS 1.3 server can send
  // its second session ticket late. Were that answered with a reset, the
  // client's system would drop what it has not sent yet. The server's small
  // receive buffer keeps most of the messages there until it reads.
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ssl::context context(asio::ssl::context::tls_server);
  context.use_certificate_chain(asio::buffer(m_certificates.serverCertPem));
  context.use_private_key(asio::buffer(m_certificates.serverKeyPem), asio::ssl::context::pem);
  asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::v4());
  acceptor.set_option(asio::socket_base::receive_buffer_size(4096));
  acceptor.bind({asio::ip::make_address("127.0.0.1"), 0});
  acceptor.listen();
  std::string received;
  boost::system::error_code end;
  std::thread server([&] {
    asio::ssl::stream<asio::ip::tcp::socket> stream(io, context);
    acceptor.accept(stream.next_layer(), end);
    if (!end) stream.handshake(asio::ssl::stream_base::server, end);
    if (!end && m_tracer->WaitFor("Shutdown ok", std::chrono::seconds(10))) {
      asio::write(stream, asio::buffer(std::string("late")), end);
    }
    char buffer[4096];
    while (!end) received.append(buffer, stream.read_some(asio::buffer(buffer), end));
  });
  auto client = Client();
  const std::string messages(12 * 1024, 'a');
  client->MakeRequestAsync({"127.0.0.1", std::to_string(acceptor.local_endpoint().port())}, messages);
  EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError);
  server.join();
  EXPECT_EQ(received.size(), messages.size());
  EXPECT_EQ(end, asio::error::eof) << end.message();  // the close_notify
}

TEST_F(SyslogTlsTest, AddressNotInTheCertificateIsRefusedAsInvalidServerCertificate) {
  LoopbackTlsServer server(Server(m_certificates.wrongNameCertPem, m_certificates.wrongNameKeyPem));
  auto client = Client();
  const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", server.Port()}, "x\n"); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->reason, 2u);
  EXPECT_EQ(m_tracer->Count(" Common name check failed for 127.0.0.1"), 1u);
  EXPECT_TRUE(server.Received().empty());
}

TEST_F(SyslogTlsTest, ExpiredCertificateIsRefused) {
  LoopbackTlsServer server(Server(m_certificates.expiredCertPem, m_certificates.expiredKeyPem));
  auto client = Client();
  const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", server.Port()}, "x\n"); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->reason, 2u);
  EXPECT_GE(m_tracer->Count(" preverify_ok is not ok : 10 : 'certificate has expired'"), 1u);
}

TEST_F(SyslogTlsTest, ClientCertificateFromPasswordProtectedContainerIsDecryptedAndAccepted) {
  auto options = Server(m_certificates.serverCertPem, m_certificates.serverKeyPem);
  options.clientCaPem = m_certificates.caPem;
  options.address = "::1";
  LoopbackTlsServer server(options);

  std::string certificatePem;
  std::vector<std::uint8_t> keyPem;
  std::vector<std::uint8_t> password(TestCertificates::kPkcs12Password.begin(),
                                     TestCertificates::kPkcs12Password.end());
  password.push_back(0);
  ASSERT_EQ(base::Pkcs12ToPem(m_certificates.clientPkcs12, password, certificatePem, keyPem), oru::rc::NoError);
  SyslogClientSettings settings = Settings();
  settings.clientCert = SyslogClientSettings::ClientCertificate{{keyPem.begin(), keyPem.end()}, certificatePem};
  auto client = m_factory.CreateSyslogClient(settings);

  client->MakeRequestAsync({"::1", server.Port()}, "m\n");
  ASSERT_TRUE(server.WaitFor(2));
  EXPECT_EQ(server.Received(), "m\n");
  EXPECT_EQ(m_decryptor->Calls(), 1u);
}

// Under TLS 1.3 the server's refusal arrives after the client's handshake has
// ended: the connect must wait for it, or the message would be counted as
// sent into a connection the server is closing.
TEST_F(SyslogTlsTest, RefusedClientCertificateFailsTheConnectUnderTls12And13) {
  for (const int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    auto options = Server(m_certificates.serverCertPem, m_certificates.serverKeyPem);
    options.clientCaPem = m_certificates.untrustedCaPem;  // our client certificate is not trusted
    options.minVersion = options.maxVersion = version;
    LoopbackTlsServer server(options);
    auto client = Client(true);
    const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", server.Port()}, "x\n"); });
    ASSERT_TRUE(failure.has_value()) << "version " << version;
    EXPECT_EQ(failure->reason, 1u) << "version " << version;
    EXPECT_TRUE(server.Received().empty());
  }
}

// A server that requires a client certificate tells a client without one of
// it: certificate_required under TLS 1.3, a bare handshake_failure under TLS
// 1.2 after its certificate request. Both are a client certificate problem.
TEST_F(SyslogTlsTest, MissingClientCertificateIsRefusedAsInvalidClientCertificateUnderTls12And13) {
  for (const int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    auto options = Server(m_certificates.serverCertPem, m_certificates.serverKeyPem);
    options.clientCaPem = m_certificates.caPem;
    options.minVersion = options.maxVersion = version;
    LoopbackTlsServer server(options);
    auto client = Client(false);
    const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", server.Port()}, "x\n"); });
    ASSERT_TRUE(failure.has_value()) << "version " << version;
    EXPECT_EQ(failure->reason, 1u) << "version " << version;
    EXPECT_TRUE(server.Received().empty());
  }
}

TEST_F(SyslogTlsTest, HandshakeThatNeverAnswersEndsAtTheDeadline) {
  LoopbackTcpServer silent(LoopbackTcpServer::Mode::kNeverRead);
  auto client = Client(false, 300);
  const auto started = std::chrono::steady_clock::now();
  const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", silent.Port()}, "x\n"); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->reason, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(m_tracer->WaitFor("deadline expired", std::chrono::seconds(5)));
}

TEST_F(SyslogTlsTest, ServerOfferingOnlyTls10IsRefused) {
  auto options = Server(m_certificates.serverCertPem, m_certificates.serverKeyPem);
  options.minVersion = options.maxVersion = TLS1_VERSION;
  LoopbackTlsServer server(options);
  auto client = Client();
  EXPECT_TRUE(ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", server.Port()}, "x\n"); }).has_value());
  EXPECT_TRUE(server.Received().empty());
}

}  // namespace
