#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/basic_object.h"
#include "component/oru/http_client_settings.h"
#include "component/oru/http_result.h"
#include "component/oru/i_certificate_verification_callback.h"
#include "component/oru/i_http_client.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/result_code.h"
#include "component/sendara/base/detail/certificates/server_certificate_handler.h"
#include "host/http/http_client_configuration.h"
#include "host/http/http_client_factory.h"
#include "host/http/http_trust_anchors.h"
#include "loopback_http_server.h"
#include "recording_callback.h"
#include "renegotiating_https_server.h"
#include "temp_directory.h"
#include "test_certificates.h"

namespace {

// Records the chains it is asked about and answers each with `answer`.
class ChainRecorder final
    : public oru::BasicObject<ChainRecorder, oru::UncountedObject, oru::ICertificateVerificationCallback> {
 public:
  struct Certificate {
    std::vector<std::uint8_t> der;
    std::uint64_t errorMask;
  };

  explicit ChainRecorder(oru::Result answer) : m_answer(answer) {}

  oru::Result ValidateCertificateChain(std::string_view url, std::uint32_t requestType,
                                       std::span<const oru::CertificateStatus> records) noexcept override {
    std::lock_guard lock(m_mutex);
    m_url = url;
    m_requestType = requestType;
    m_chain.clear();
    for (const oru::CertificateStatus& record : records) {
      m_chain.push_back({{record.der.begin(), record.der.end()}, record.errorMask});
    }
    ++m_calls;
    return m_answer;
  }

  int Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }
  std::vector<Certificate> Chain() const {
    std::lock_guard lock(m_mutex);
    return m_chain;
  }
  std::string Url() const {
    std::lock_guard lock(m_mutex);
    return m_url;
  }
  std::uint32_t RequestType() const {
    std::lock_guard lock(m_mutex);
    return m_requestType;
  }

 private:
  const oru::Result m_answer;
  mutable std::mutex m_mutex;
  int m_calls = 0;
  std::string m_url;
  std::uint32_t m_requestType = 0;
  std::vector<Certificate> m_chain;
};

constexpr std::uint64_t kIssuerClass = 1;
constexpr std::uint64_t kValidityClass = 2;
constexpr std::uint64_t kHostNameClass = 16;

oru::RefPtr<oru::IHttpClient> MakeClient(oru::IHttpClientFactory& factory,
                                         oru::RefPtr<oru::ICertificateVerificationCallback> verification) {
  oru::HttpClientSettings settings;
  settings.verification = std::move(verification);
  oru::IHttpClient* created = nullptr;
  EXPECT_EQ(factory.CreateClient(settings, &created), oru::rc::NoError);
  return oru::RefPtr<oru::IHttpClient>::Adopt(created);
}

std::shared_ptr<RecordingCallback::Record> Get(oru::IHttpClient& client, const std::string& url) {
  auto callback = RecordingCallback::Create();
  oru::IHttpRequestController* controller = nullptr;
  EXPECT_EQ(client.MakeRequestAsync(oru::HttpMethod::kGet, url, {}, nullptr, callback.Get(), &controller),
            oru::rc::NoError);
  oru::RefPtr<oru::IHttpRequestController>::Adopt(controller);
  EXPECT_TRUE(callback->Recorded()->WaitForCompletion());
  return callback->Recorded();
}

std::shared_ptr<RecordingCallback::Record> Get(const std::string& url,
                                               oru::RefPtr<oru::ICertificateVerificationCallback> verification) {
  auto factory = reference_host::HttpClientFactory::Create();
  return Get(*MakeClient(*factory, std::move(verification)), url);
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

oru::RefPtr<oru::IHttpClientFactory> FactoryTrusting(const std::filesystem::path& anchors) {
  reference_host::HttpClientConfiguration configuration;
  configuration.trustAnchors = reference_host::HttpTrustAnchors::Load({anchors});
  return reference_host::HttpClientFactory::Create(std::move(configuration));
}

// The component's own rule: no error tolerated, or the server's certificate
// must be `pinnedPem`.
oru::RefPtr<oru::ICertificateVerificationCallback> ComponentHandler(std::optional<std::uint64_t> validTlsErrors,
                                                                    const std::string& pinnedPem = {}) {
  const std::span pinned(reinterpret_cast<const std::uint8_t*>(pinnedPem.data()), pinnedPem.size());
  return sendara::base::ServerCertificateHandler::Create(oru::RefPtr<oru::ITracer>(), pinned, validTlsErrors);
}

LoopbackHttpServer::Options ServerWith(const std::string& certificatePem, const std::string& keyPem) {
  LoopbackHttpServer::Options options;
  options.handler = [](const LoopbackHttpServer::Request&) { return LoopbackHttpServer::Response::With(200, "secure"); };
  options.certificatePem = certificatePem;
  options.keyPem = keyPem;
  return options;
}

TEST(HttpsClient, AcceptedChainCompletesTheRequest) {
  const TestCertificates& certificates = TestCertificates::Get();
  LoopbackHttpServer server(ServerWith(certificates.serverCertPem, certificates.serverKeyPem));
  auto recorder = ChainRecorder::Create(oru::rc::NoError);

  auto record = Get(server.Url("/secure"), recorder);

  EXPECT_EQ(record->result, oru::rc::NoError);
  EXPECT_EQ(record->status, 200);
  EXPECT_EQ(record->body, "secure");
  ASSERT_EQ(recorder->Calls(), 1);
  EXPECT_EQ(recorder->Url(), server.Url("/secure"));
  EXPECT_EQ(recorder->RequestType(), 1u);
  const auto chain = recorder->Chain();
  ASSERT_FALSE(chain.empty());
  EXPECT_EQ(chain.front().der, TestCertificates::PemToDer(certificates.serverCertPem));
  // The test CA is in no system trust store; the name is right.
  EXPECT_NE(chain.front().errorMask & kIssuerClass, 0u);
  EXPECT_EQ(chain.front().errorMask & (kHostNameClass | kValidityClass), 0u);
}

// The connection and the request have a time each: a handshake slower than
// the request's time, within the connection's, still lets the request
// through.
TEST(HttpsClient, ASlowHandshakeWithinTheConnectionTimeLeavesTheRequestItsOwn) {
  const TestCertificates& certificates = TestCertificates::Get();
  LoopbackHttpServer::Options slow = ServerWith(certificates.serverCertPem, certificates.serverKeyPem);
  slow.handshakeDelay = std::chrono::milliseconds(600);
  LoopbackHttpServer server(slow);
  oru::HttpClientSettings settings;
  settings.verification = ChainRecorder::Create(oru::rc::NoError);
  auto factory = reference_host::HttpClientFactory::Create();
  oru::IHttpClient* created = nullptr;
  ASSERT_EQ(factory->CreateClient(settings, &created), oru::rc::NoError);
  auto client = oru::RefPtr<oru::IHttpClient>::Adopt(created);
  oru::HttpRequestOptions options;
  options.connectionTimeout = 5000;
  options.requestTimeout = 400;
  auto callback = RecordingCallback::Create();
  oru::IHttpRequestController* controller = nullptr;
  ASSERT_EQ(client->MakeRequestAsync(oru::HttpMethod::kGet, server.Url("/slow"), options, nullptr, callback.Get(),
                                     &controller),
            oru::rc::NoError);
  oru::RefPtr<oru::IHttpRequestController>::Adopt(controller);
  ASSERT_TRUE(callback->Recorded()->WaitForCompletion());
  EXPECT_EQ(callback->Recorded()->result, oru::rc::NoError);
  EXPECT_EQ(callback->Recorded()->status, 200);
}

TEST(HttpsClient, RefusedChainRejectsTheServerCertificate) {
  const TestCertificates& certificates = TestCertificates::Get();
  LoopbackHttpServer server(ServerWith(certificates.serverCertPem, certificates.serverKeyPem));
  auto recorder = ChainRecorder::Create(oru::rc::False);

  auto record = Get(server.Url(), recorder);

  EXPECT_EQ(record->result, oru::http_result::kServerCertificateRejected);
  EXPECT_EQ(recorder->Calls(), 1);
  EXPECT_TRUE(server.Requests().empty());
}

// The leaf's errors reach the callback as their classes, and its answer
// decides: an expired leaf accepted, a wrong name refused.
TEST(HttpsClient, LeafErrorsReachTheCallbackAsTheirClasses) {
  const TestCertificates& certificates = TestCertificates::Get();
  struct Case {
    const std::string& certificatePem;
    const std::string& keyPem;
    std::uint64_t errorClass;
    oru::Result answer;
    oru::Result result;
  };
  for (const Case& c : {Case{certificates.expiredCertPem, certificates.expiredKeyPem, kValidityClass,
                             oru::rc::NoError, oru::rc::NoError},
                        Case{certificates.wrongNameCertPem, certificates.wrongNameKeyPem, kHostNameClass,
                             oru::rc::False, oru::http_result::kServerCertificateRejected}}) {
    LoopbackHttpServer server(ServerWith(c.certificatePem, c.keyPem));
    auto recorder = ChainRecorder::Create(c.answer);
    auto record = Get(server.Url(), recorder);
    EXPECT_EQ(record->result, c.result);
    const auto chain = recorder->Chain();
    ASSERT_FALSE(chain.empty());
    EXPECT_EQ(chain.front().der, TestCertificates::PemToDer(c.certificatePem));
    EXPECT_NE(chain.front().errorMask & c.errorClass, 0u);
  }
}

TEST(HttpsClient, WithoutCallbackTheSystemTrustStoreRefusesTheTestCa) {
  const TestCertificates& certificates = TestCertificates::Get();
  LoopbackHttpServer server(ServerWith(certificates.serverCertPem, certificates.serverKeyPem));

  auto record = Get(server.Url(), nullptr);

  EXPECT_EQ(record->result, oru::http_result::kServerCertificateRejected);
  EXPECT_TRUE(server.Requests().empty());
}

// The operator's CA, a file or a folder, makes a chain to it verify with no
// error: the component's handler that tolerates none accepts it, on every
// connection of a client, where it refuses it without the anchors. A pinned
// server certificate is accepted either way; a chain to another CA is not.
TEST(HttpsClient, TheOperatorsCaAnchorsAChainForTheComponentsHandler) {
  const TestCertificates& certificates = TestCertificates::Get();
  TempDirectory temp;
  WriteFile(temp.Path() / "ca.pem", certificates.caPem);
  std::filesystem::create_directory(temp.Path() / "anchors");
  WriteFile(temp.Path() / "anchors" / "ca.pem", certificates.caPem);
  // A key among the certificates is passed over.
  WriteFile(temp.Path() / "anchors" / "ca.key", certificates.caKeyPem);
  LoopbackHttpServer server(ServerWith(certificates.serverCertPem, certificates.serverKeyPem));
  LoopbackHttpServer second(ServerWith(certificates.serverCertPem, certificates.serverKeyPem));
  LoopbackHttpServer untrusted(ServerWith(certificates.untrustedServerCertPem, certificates.untrustedServerKeyPem));
  const auto strict = ComponentHandler(0);
  const auto pinned = ComponentHandler(std::nullopt, certificates.serverCertPem);

  for (const std::filesystem::path& anchors : {temp.Path() / "ca.pem", temp.Path() / "anchors"}) {
    SCOPED_TRACE(anchors.string());
    auto factory = FactoryTrusting(anchors);
    auto client = MakeClient(*factory, strict);
    auto record = Get(*client, server.Url("/private"));
    EXPECT_EQ(record->result, oru::rc::NoError);
    EXPECT_EQ(record->body, "secure");
    // A new connection of the same client: libcurl may give it the trust
    // store of the first, which holds the anchors already.
    EXPECT_EQ(Get(*client, second.Url())->result, oru::rc::NoError);
    EXPECT_EQ(Get(*client, untrusted.Url())->result, oru::http_result::kServerCertificateRejected);
    EXPECT_EQ(Get(*MakeClient(*factory, pinned), server.Url())->result, oru::rc::NoError);
  }

  auto withoutAnchors = reference_host::HttpClientFactory::Create();
  EXPECT_EQ(Get(*MakeClient(*withoutAnchors, strict), server.Url())->result,
            oru::http_result::kServerCertificateRejected);
  EXPECT_EQ(Get(*MakeClient(*withoutAnchors, pinned), server.Url())->result, oru::rc::NoError);
  EXPECT_EQ(server.Requests().size(), 5u);
  EXPECT_EQ(untrusted.Requests().size(), 0u);
}

// Without a callback the system's store with the anchors, and the host name,
// decide.
TEST(HttpsClient, WithoutCallbackTheAnchorsAndTheHostNameDecide) {
  const TestCertificates& certificates = TestCertificates::Get();
  TempDirectory temp;
  WriteFile(temp.Path() / "ca.pem", certificates.caPem);
  auto factory = FactoryTrusting(temp.Path() / "ca.pem");
  LoopbackHttpServer server(ServerWith(certificates.serverCertPem, certificates.serverKeyPem));
  LoopbackHttpServer wrongName(ServerWith(certificates.wrongNameCertPem, certificates.wrongNameKeyPem));

  EXPECT_EQ(Get(*MakeClient(*factory, nullptr), server.Url())->result, oru::rc::NoError);
  EXPECT_EQ(Get(*MakeClient(*factory, nullptr), wrongName.Url())->result,
            oru::http_result::kServerCertificateNameMismatch);
}

// Every certificate of a bundle is an anchor; a path that gives none, or
// cannot be read, is named.
TEST(HttpTrustAnchors, LoadsBundlesAndNamesAPathItCannotUse) {
  const TestCertificates& certificates = TestCertificates::Get();
  TempDirectory temp;
  WriteFile(temp.Path() / "bundle.pem", certificates.caPem + certificates.untrustedCaPem);
  EXPECT_EQ(reference_host::HttpTrustAnchors::Load({temp.Path() / "bundle.pem"}).Count(), 2u);

  WriteFile(temp.Path() / "key.pem", certificates.caKeyPem);
  WriteFile(temp.Path() / "broken.pem", "-----BEGIN CERTIFICATE-----\nno base64 here\n-----END CERTIFICATE-----\n");
  std::filesystem::create_directory(temp.Path() / "empty");
  for (const std::filesystem::path& path : {temp.Path() / "missing.pem", temp.Path() / "key.pem",
                                            temp.Path() / "broken.pem", temp.Path() / "empty"}) {
    SCOPED_TRACE(path.string());
    try {
      reference_host::HttpTrustAnchors::Load({temp.Path() / "bundle.pem", path});
      ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
    }
  }
}

// A connection outlives the request that opened it: libcurl keeps it for the
// client's later requests, and the check installed in its TLS context with
// it. A server that asks such a kept TLS 1.2 connection to renegotiate, after
// the request that opened it is gone, is refused; the connection breaks and
// libcurl sends the request again over a new connection, whose chain the
// callback is asked about for that request.
TEST(HttpsClient, RenegotiationOnAKeptConnectionIsRefused) {
  using Renegotiation = RenegotiatingHttpsServer::Renegotiation;
  const TestCertificates& certificates = TestCertificates::Get();
  RenegotiatingHttpsServer server(certificates.serverCertPem, certificates.serverKeyPem);
  auto recorder = ChainRecorder::Create(oru::rc::NoError);
  oru::HttpClientSettings settings;
  settings.verification = recorder;
  auto factory = reference_host::HttpClientFactory::Create();
  oru::IHttpClient* created = nullptr;
  ASSERT_EQ(factory->CreateClient(settings, &created), oru::rc::NoError);
  auto client = oru::RefPtr<oru::IHttpClient>::Adopt(created);
  auto get = [&](const std::string& url) {
    auto callback = RecordingCallback::Create();
    oru::IHttpRequestController* controller = nullptr;
    EXPECT_EQ(client->MakeRequestAsync(oru::HttpMethod::kGet, url, {}, nullptr, callback.Get(), &controller),
              oru::rc::NoError);
    // Only the client holds the request from here on.
    oru::RefPtr<oru::IHttpRequestController>::Adopt(controller);
    return callback->Recorded();
  };

  auto first = get(server.Url("/first"));
  ASSERT_TRUE(first->WaitForCompletion());
  ASSERT_EQ(first->result, oru::rc::NoError);
  EXPECT_EQ(first->body, "/first");
  // The client's thread lets the callback go as it completes the request,
  // and the request itself right after, before it takes the next one in:
  // the first request and its check are gone when the second starts.
  ASSERT_TRUE(first->WaitForRelease());
  ASSERT_EQ(recorder->Calls(), 1);

  auto second = get(server.Url("/second"));
  ASSERT_TRUE(second->WaitForCompletion());

  EXPECT_EQ(server.Outcome(), Renegotiation::kRefused);
  EXPECT_EQ(second->result, oru::rc::NoError);
  EXPECT_EQ(second->status, 200);
  EXPECT_EQ(second->body, "/second");
  using Request = RenegotiatingHttpsServer::Request;
  EXPECT_EQ(server.Requests(), (std::vector<Request>{{1, "/first"}, {1, "/second"}, {2, "/second"}}));
  // The new connection's chain, for the second request.
  EXPECT_EQ(recorder->Calls(), 2);
  EXPECT_EQ(recorder->Url(), server.Url("/second"));
}

}  // namespace
