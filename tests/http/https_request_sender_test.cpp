#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/client_request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/http_request_sender.h"
#include "connect_proxy.h"
#include "connection_failure.h"
#include "host/http/http_client_factory.h"
#include "host/service_locator.h"
#include "host/tracer.h"
#include "loopback_http_server.h"
#include "test_certificates.h"

// HttpRequestSender over HTTPS through every real layer: the request layer
// with its certificate handler, the host's libcurl client found through the
// service locator, and a loopback TLS server (or a CONNECT proxy before it).
namespace {

using namespace sendara;
using namespace sendara::edr_telemetry;
using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

constexpr std::uint64_t kIssuerClass = 1;
constexpr std::uint64_t kValidityClass = 2;
constexpr std::uint32_t kInvalidServerCertificateReason = 2;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string LowerHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

LoopbackHttpServer::Options TlsServer(const std::string& certificatePem, const std::string& keyPem) {
  LoopbackHttpServer::Options options;
  options.handler = [](const Request&) { return Response::With(200); };
  options.certificatePem = certificatePem;
  options.keyPem = keyPem;
  return options;
}

class HttpsRequestSenderTest : public ::testing::Test {
 protected:
  HttpsRequestSenderTest() {
    m_locator->Register<oru::IHttpClientFactory>(oru::RefPtr<oru::IHttpClientFactory>(m_hostFactory.Get()));
  }

  HttpRequestSender Sender(const std::string& url, std::string_view serverCerts,
                           std::optional<std::uint64_t> validTlsErrors = 0,
                           std::optional<std::string> tunnel = std::nullopt) {
    const oru::RefPtr<oru::ITracer> tracer(m_tracer.Get());
    EdrTelemetryClientSettings settings;
    settings.endpoints = {{EdrTelemetryProtocol::HTTP, url}};
    settings.timeoutConnection = 5000;
    settings.timeoutRequest = 5000;
    settings.serverCerts = Bytes(serverCerts);
    settings.validTlsErrors = validTlsErrors;
    settings.tunnel = std::move(tunnel);
    const auto provider = std::make_shared<EdrTelemetryClientSettingsProvider>(tracer, settings);
    return HttpRequestSender(
        tracer, url, false,
        std::make_shared<ClientRequestSenderStringFactory>(
            std::make_shared<base::RequestSenderStringFactory>(oru::RefPtr<oru::IServiceLocator>(m_locator.Get()),
                                                               tracer, base::SensitiveDataTracePolicy()),
            provider));
  }

  // The connection error of one Send, or nothing when the package went.
  std::optional<ConnectionErrorInfo> Send(HttpRequestSender& sender) {
    return ConnectionFailureOf([&] { sender.Send(m_package, m_sent, m_stop.GetToken()); });
  }

  const TestCertificates& m_certificates = TestCertificates::Get();
  // Records the handler's warnings (500), which name a refused certificate.
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  oru::RefPtr<reference_host::HttpClientFactory> m_hostFactory = reference_host::HttpClientFactory::Create();
  oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  base::StopSource m_stop;
  const std::vector<std::string_view> m_package{"{\"a\":1}", "{\"b\":2}"};
  std::uint64_t m_sent = 0;
};

// The configured certificate is the one trust rests on: the server's own is
// accepted although no trusted CA signed it; any other is refused, and the
// trace names the certificate the server presented.
TEST_F(HttpsRequestSenderTest, TheConfiguredServerCertificateDecides) {
  LoopbackHttpServer server(TlsServer(m_certificates.serverCertPem, m_certificates.serverKeyPem));

  auto pinned = Sender(server.Url("/events"), m_certificates.serverCertPem);
  EXPECT_FALSE(Send(pinned).has_value());
  EXPECT_EQ(m_sent, 2u);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].method, "POST");
  EXPECT_EQ(server.Requests()[0].body, "{\"a\":1}\n{\"b\":2}\n");

  auto other = Sender(server.Url("/events"), m_certificates.selfSignedCertPem);
  const auto failure = Send(other);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->reason, kInvalidServerCertificateReason);
  EXPECT_EQ(failure->serverAddress, server.Url("/events"));
  EXPECT_EQ(m_sent, 2u);
  EXPECT_EQ(server.Requests().size(), 1u);
  const auto refusals = m_tracer->LinesContaining("not valid, because server certificate not equal settings");
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_NE(refusals[0].text.find("server certificate (Der) = " +
                                  LowerHex(TestCertificates::PemToDer(m_certificates.serverCertPem))),
            std::string::npos);
}

// An expired leaf is refused even when it is the configured one, unless the
// settings tolerate every error of the chain: its validity, and its issuer,
// which no trusted CA vouches for.
TEST_F(HttpsRequestSenderTest, AnExpiredServerCertificatePassesOnlyWithItsErrorsTolerated) {
  LoopbackHttpServer server(TlsServer(m_certificates.expiredCertPem, m_certificates.expiredKeyPem));
  struct Case {
    std::optional<std::uint64_t> validTlsErrors;
    bool delivered;
  };
  for (const Case& c : {Case{0, false}, Case{std::nullopt, false}, Case{kValidityClass, false},
                        Case{kValidityClass | kIssuerClass, true}}) {
    const std::uint64_t before = m_sent;
    auto sender = Sender(server.Url(), m_certificates.expiredCertPem, c.validTlsErrors);
    const auto failure = Send(sender);
    const std::string mask = c.validTlsErrors ? std::to_string(*c.validTlsErrors) : "none";
    if (c.delivered) {
      EXPECT_FALSE(failure.has_value()) << mask;
      EXPECT_EQ(m_sent, before + 2) << mask;
    } else {
      ASSERT_TRUE(failure) << mask;
      EXPECT_EQ(failure->reason, kInvalidServerCertificateReason) << mask;
      EXPECT_EQ(m_sent, before) << mask;
    }
  }
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(m_tracer->Count("not valid, because certificate is expired or not yet valid"), 3u);
}

TEST_F(HttpsRequestSenderTest, WithoutServerCertificatesTheSystemTrustStoreRefusesTheTestCa) {
  LoopbackHttpServer server(TlsServer(m_certificates.serverCertPem, m_certificates.serverKeyPem));
  auto sender = Sender(server.Url(), {});

  const auto failure = Send(sender);

  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->reason, kInvalidServerCertificateReason);
  EXPECT_EQ(m_sent, 0u);
  EXPECT_TRUE(server.Requests().empty());
}

// The tunnel in the settings, in either form an address takes with a port.
TEST_F(HttpsRequestSenderTest, PostsThroughTheTunnel) {
  LoopbackHttpServer server(TlsServer(m_certificates.serverCertPem, m_certificates.serverKeyPem));
  for (const std::string proxyAddress : {"127.0.0.1", "::1"}) {
    ConnectProxy proxy(proxyAddress);
    const std::size_t before = server.Requests().size();
    auto sender = Sender(server.Url("/tunnelled"), m_certificates.serverCertPem, 0, proxy.Tunnel());

    EXPECT_FALSE(Send(sender).has_value()) << proxy.Tunnel();

    ASSERT_EQ(server.Requests().size(), before + 1) << proxy.Tunnel();
    EXPECT_EQ(server.Requests().back().target, "/tunnelled");
    EXPECT_EQ(server.Requests().back().body, "{\"a\":1}\n{\"b\":2}\n");
    const auto lines = proxy.RequestLines();
    ASSERT_EQ(lines.size(), 1u) << proxy.Tunnel();
    EXPECT_TRUE(lines[0].starts_with("CONNECT 127.0.0.1:" + std::to_string(server.Port()) + " ")) << lines[0];
  }
}

}  // namespace
