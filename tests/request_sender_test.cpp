#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#if !defined(_WIN32)
#include <arpa/inet.h>
#endif

#include <gtest/gtest.h>

#include "catch_as.h"
#include "gzip_text.h"
#include "component/oru/basic_object.h"
#include "component/oru/i_http_client.h"
#include "component/oru/i_http_client_factory.h"
#include "component/oru/i_http_request_controller.h"
#include "component/oru/service_ids.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/http_exception.h"
#include "component/sendara/base/detail/common/ip_address_text.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/request_sender/content_type.h"
#include "component/sendara/base/detail/request_sender/http_request_completion.h"
#include "component/sendara/base/detail/request_sender/multi_part_builder.h"
#include "component/sendara/base/detail/request_sender/request_sender_string.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/base/detail/request_sender/secure_string.h"
#include "component/sendara/base/detail/request_sender/validate_tunnel_address.h"
#include "host/sensitive_data_policy.h"
#include "host/service_locator.h"
#include "host/tracer.h"
#include "test_certificates.h"

namespace {

using namespace sendara::base;

constexpr std::string_view kUri = "https://siem.test/api/events";
// Long enough that only a stop or an answer can end a wait in these tests.
constexpr std::uint32_t kLongTimeout = 600000;

class FakeController final
    : public oru::BasicObject<FakeController, oru::UncountedObject, oru::IHttpRequestController> {
 public:
  explicit FakeController(std::function<void()> onCancel) : m_onCancel(std::move(onCancel)) {}

  oru::Result Cancel() noexcept override {
    ++cancels;
    if (m_onCancel) m_onCancel();
    return oru::rc::NoError;
  }

  std::atomic<int> cancels{0};

 private:
  std::function<void()> m_onCancel;
};

// Records each request and ends it as the test says: at once (on a thread of
// its own), when cancelled, or only when the test calls CompletePending.
class FakeHttpClient final : public oru::BasicObject<FakeHttpClient, oru::UncountedObject, oru::IHttpClient> {
 public:
  enum class Mode { kAnswer, kHoldUntilCancel, kNeverEnd };

  struct Recorded {
    oru::HttpMethod method{};
    std::string uri;
    oru::HttpRequestOptions options;
    std::string body;
  };

  ~FakeHttpClient() override {
    for (std::thread& thread : m_threads) thread.join();
  }

  oru::Result MakeRequestAsync(oru::HttpMethod method, std::string_view uri,
                               const oru::HttpRequestOptions& options, std::shared_ptr<const std::string> body,
                               oru::IHttpRequestCallback* callback,
                               oru::IHttpRequestController** controllerOut) noexcept override {
    std::unique_lock lock(m_mutex);
    requests.push_back({method, std::string(uri), options, body ? *body : std::string()});
    if (oru::Failed(startResult)) return startResult;
    oru::RefPtr<oru::IHttpRequestCallback> held(callback);
    lastController = FakeController::Create([this] {
      const std::lock_guard cancelLock(m_mutex);
      if (mode == Mode::kHoldUntilCancel && m_pending) {
        m_threads.emplace_back(&FakeHttpClient::End, std::move(m_pending), oru::rc::OperationCancelled,
                               std::uint16_t{0}, std::string());
      }
    });
    if (mode == Mode::kAnswer) {
      m_threads.emplace_back(&FakeHttpClient::End, std::move(held), completeResult, status, response);
    } else {
      m_pending = std::move(held);
    }
    *controllerOut = oru::RefPtr<oru::IHttpRequestController>(lastController).Detach();
    m_requestArrived.notify_all();
    return oru::rc::NoError;
  }

  void WaitForRequest() {
    std::unique_lock lock(m_mutex);
    m_requestArrived.wait(lock, [this] { return !requests.empty(); });
  }

  // Ends a held request on the calling thread.
  void CompletePending(oru::Result result, std::uint16_t endStatus, std::string body) {
    oru::RefPtr<oru::IHttpRequestCallback> pending;
    {
      const std::lock_guard lock(m_mutex);
      pending = std::move(m_pending);
    }
    ASSERT_TRUE(pending);
    End(std::move(pending), result, endStatus, std::move(body));
  }

  Mode mode = Mode::kAnswer;
  oru::Result startResult = oru::rc::NoError;
  oru::Result completeResult = oru::rc::NoError;
  std::uint16_t status = 200;
  std::string response = "{\"ok\":true}";
  std::vector<Recorded> requests;
  oru::RefPtr<FakeController> lastController;

 private:
  // As the host's client does: the body in pieces, then the end, then the
  // reference goes.
  static void End(oru::RefPtr<oru::IHttpRequestCallback> callback, oru::Result result, std::uint16_t endStatus,
                  std::string body) {
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t offset = 0; offset < body.size(); offset += kPiece) {
      const std::size_t size = std::min(kPiece, body.size() - offset);
      callback->ResponseData({reinterpret_cast<const std::uint8_t*>(body.data() + offset), size});
    }
    callback->RequestCompleted(result, endStatus);
  }

  std::mutex m_mutex;
  std::condition_variable m_requestArrived;
  oru::RefPtr<oru::IHttpRequestCallback> m_pending;
  std::vector<std::thread> m_threads;
};

std::string Gunzip(const std::string& compressed) { return GunzipText(compressed); }

std::optional<std::string> HeaderOf(const FakeHttpClient::Recorded& request, std::string_view name) {
  for (const oru::HttpHeader& header : request.options.headers) {
    if (header.name == name) return header.value;
  }
  return std::nullopt;
}

std::uint64_t UnsignedProperty(const oru::Exception& e, std::string_view name) {
  const auto* value = e.FindProperty(name);
  return value && std::holds_alternative<std::uint64_t>(*value) ? std::get<std::uint64_t>(*value) : ~0ull;
}

std::string TextProperty(const oru::Exception& e, std::string_view name) {
  const auto* value = e.FindProperty(name);
  return value && std::holds_alternative<std::string>(*value) ? std::get<std::string>(*value) : "{absent}";
}

class RequestSenderTest : public ::testing::Test {
 protected:
  std::unique_ptr<RequestSenderString> MakeSender(std::uint32_t timeout = kLongTimeout, std::uint32_t gzipLevel = 5,
                                                  std::optional<std::string> tunnel = std::nullopt) {
    return std::make_unique<RequestSenderString>(
        oru::RefPtr<oru::ITracer>(tracer.Get()),
        SensitiveDataTracePolicy(oru::RefPtr<oru::ISensitiveDataPolicy>(policy.Get())),
        oru::RefPtr<oru::IHttpClient>(client.Get()), timeout, timeout, std::move(tunnel), gzipLevel);
  }

  oru::RefPtr<reference_host::Tracer> tracer = reference_host::Tracer::Create(800);
  oru::RefPtr<reference_host::SensitiveDataPolicy> policy = reference_host::SensitiveDataPolicy::Create(false);
  oru::RefPtr<FakeHttpClient> client = FakeHttpClient::Create();
  StopSource stop;
};

TEST_F(RequestSenderTest, PostSendsItsRequestAndReturnsTheAnswer) {
  const auto sender = MakeSender(kLongTimeout, 5, "10.0.0.1:3128");
  const SecureString answer = sender->Post(kUri, "{\"a\":1}", stop.GetToken(), false);
  EXPECT_EQ(answer.View(), "{\"ok\":true}");

  ASSERT_EQ(client->requests.size(), 1u);
  const auto& request = client->requests[0];
  EXPECT_EQ(request.method, oru::HttpMethod::kPost);
  EXPECT_EQ(request.uri, kUri);
  EXPECT_EQ(request.body, "{\"a\":1}");
  EXPECT_EQ(HeaderOf(request, "Content-type"), "application/json; charset=utf-8");
  EXPECT_EQ(HeaderOf(request, "Content-Encoding"), std::nullopt);
  EXPECT_EQ(request.options.acceptedEncoding, "gzip");
  EXPECT_EQ(request.options.stallTimeout, 30);
  EXPECT_EQ(request.options.connectionTimeout, kLongTimeout);
  EXPECT_EQ(request.options.requestTimeout, kLongTimeout);
  EXPECT_EQ(request.options.tunnel, "10.0.0.1:3128");
  EXPECT_EQ(tracer->Count("] Request for url '" + std::string(kUri) +
                          "' finished with result: 0x00000000; status code is 200 OK"),
            1u);
}

TEST_F(RequestSenderTest, CompressedBodyInflatesToTheInputAtEveryLevel) {
  std::string body;
  for (int i = 0; i < 2000; ++i) body += "{\"event\":" + std::to_string(i) + "}";
  for (const std::uint32_t level : {0u, 5u, 9u}) {
    client->requests.clear();
    MakeSender(kLongTimeout, level)->Post(kUri, body, stop.GetToken(), true);
    ASSERT_EQ(client->requests.size(), 1u);
    EXPECT_EQ(HeaderOf(client->requests[0], "Content-Encoding"), "gzip") << level;
    EXPECT_EQ(Gunzip(client->requests[0].body), body) << level;
  }
}

TEST_F(RequestSenderTest, StatusesDecideTheOutcome) {
  const auto sender = MakeSender(kLongTimeout, 5, "[::1]:8080");
  const auto post = [&] { sender->Post(kUri, "{}", stop.GetToken(), false); };
  // 2xx and 3xx are delivered; a redirect is traced as a warning.
  for (const std::uint16_t status : {204, 302}) {
    client->status = status;
    EXPECT_EQ(sender->Post(kUri, "{}", stop.GetToken(), false).View(), "{\"ok\":true}");
  }
  EXPECT_EQ(tracer->LinesContaining("redirect not followed").at(0).level, 500);

  for (const std::uint16_t status : {404, 500}) {
    client->status = status;
    const auto e = CatchAs<http_exception>(post);
    ASSERT_TRUE(e) << status;
    EXPECT_EQ(e->Message(), "http request complete with http code");
    EXPECT_EQ(UnsignedProperty(*e, "http_code"), status);
    EXPECT_EQ(TextProperty(*e, "uri"), kUri);
    EXPECT_EQ(TextProperty(*e, "tunnel"), "[::1]:8080");
  }

  // No answer, or only an interim one, is no delivery, and no http failure.
  for (const std::uint16_t status : {0, 101}) {
    client->status = status;
    const auto e = CatchAs<connection_exception>(post);
    ASSERT_TRUE(e) << status;
    EXPECT_EQ(e->Message(), "can't send request");
    EXPECT_EQ(UnsignedProperty(*e, "reason"), 0u);
  }

  client->status = 0;
  client->completeResult = oru::rc::NetworkError;
  const auto e = CatchAs<tools_exception>(post);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message(), "http request complete with error");
  EXPECT_EQ(e->Code(), oru::rc::NetworkError);
  EXPECT_EQ(tracer->Count("finished with result: 0x80010116; status code is 0 Unknown"), 1u);
}

TEST_F(RequestSenderTest, AStartTheClientRefusesRaisesWithItsCode) {
  client->startResult = oru::rc::InvalidArgument;
  const auto e = CatchAs<tools_exception>([&] { MakeSender()->Get(kUri, stop.GetToken()); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message(), "can't make request async");
  EXPECT_EQ(e->Code(), oru::rc::InvalidArgument);
  EXPECT_EQ(TextProperty(*e, "tunnel"), "");
}

// The time-outs are far beyond the test's own limit: only the stop can end it.
TEST_F(RequestSenderTest, StopDuringARequestCancelsItAndRaisesStopNestingTheCancellation) {
  client->mode = FakeHttpClient::Mode::kHoldUntilCancel;
  const auto sender = MakeSender();
  // Joined however the test ends.
  std::jthread stopper([this] {
    client->WaitForRequest();
    stop.RequestStop();
  });
  // Caught in place: a copy would lose what is nested.
  try {
    sender->Post(kUri, "{}", stop.GetToken(), false);
    ADD_FAILURE();
  } catch (const stop_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::OperationCancelled);
    const auto inner = CatchAs<tools_exception>([&] {
      std::rethrow_if_nested(e);
      ADD_FAILURE() << "nothing nested";
    });
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->Code(), oru::rc::OperationCancelled);
  }
  stopper.join();
  EXPECT_EQ(client->lastController->cancels, 1);
  EXPECT_EQ(tracer->Count("stop token requested in: uri = " + std::string(kUri) + "; wait timeout = 1201000"), 1u);
  EXPECT_EQ(tracer->Count("cancel request in: uri = " + std::string(kUri)), 1u);
}

// Meant to run under AddressSanitizer too: the late end must reach only what
// the client still holds. The wait is the sum of the time-outs, taken in 64
// bits and kept below an endless one.
TEST_F(RequestSenderTest, UnansweredRequestEndsAfterTheBoundedWaitAndALateEndTouchesNothingFreed) {
  client->mode = FakeHttpClient::Mode::kNeverEnd;
  auto sender = MakeSender(1);
  const auto e = CatchAs<connection_exception>([&] { sender->Post(kUri, "{}", stop.GetToken(), false); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message(), "can't send request");
  EXPECT_EQ(UnsignedProperty(*e, "reason"), 0u);
  EXPECT_EQ(TextProperty(*e, "uri"), kUri);
  EXPECT_EQ(client->lastController->cancels, 1);
  EXPECT_EQ(tracer->Count("request not completed in: uri = " + std::string(kUri) + "; wait timeout = 1002"), 1u);

  sender.reset();
  client->CompletePending(oru::rc::NoError, 200, std::string(100000, 'z'));
  EXPECT_EQ(tracer->Count("finished with result: 0x00000000; status code is 200 OK"), 1u);
  EXPECT_EQ(RequestSenderString::WaitTimeout(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFEu);
}

TEST_F(RequestSenderTest, ResponseIsCutAtOneMebibyteWithTheSameOutcome) {
  client->response = std::string(HttpRequestCompletion::kMaxResponseSize, 'a') + std::string(70000, 'b');
  const SecureString answer = MakeSender()->Get(kUri, stop.GetToken());
  EXPECT_EQ(answer.View(), std::string(HttpRequestCompletion::kMaxResponseSize, 'a'));
  EXPECT_EQ(client->requests.at(0).method, oru::HttpMethod::kGet);
}

TEST_F(RequestSenderTest, TextsAreTracedOnlyWhenThePolicyAllows) {
  const auto sender = MakeSender();
  sender->Post(kUri, "{\"secret\":1}", stop.GetToken(), false);
  EXPECT_EQ(tracer->Count("; request size = 12; request = <sensitive data was hidden>"), 1u);
  EXPECT_EQ(tracer->Count("; response = <sensitive data was hidden>"), 1u);
  EXPECT_EQ(tracer->Count("secret"), 0u);
  EXPECT_EQ(tracer->Count("\"ok\""), 0u);

  policy->SetAllowed(true);
  sender->Post(kUri, "{\"secret\":1}", stop.GetToken(), false);
  EXPECT_EQ(tracer->Count(" in: uri = " + std::string(kUri) + "; request size = 12; request = {\"secret\":1}"), 1u);
  EXPECT_EQ(tracer->Count("out: uri = " + std::string(kUri) + "; response = {\"ok\":true}"), 1u);
}

TEST_F(RequestSenderTest, BinaryAndExtendedRequestsTraceTheirShape) {
  const auto sender = MakeSender();
  const std::vector<std::uint8_t> bytes{0x1F, 0x8B, 0x00, 0xFF};
  sender->PostBinary(ContentType::kOctetStream, kUri, bytes, stop.GetToken());
  EXPECT_EQ(client->requests.at(0).body, std::string("\x1F\x8B\x00\xFF", 4));
  EXPECT_EQ(HeaderOf(client->requests.at(0), "Content-type"), "application/octet-stream");
  EXPECT_EQ(tracer->Count("in: type = application/octet-stream; uri = " + std::string(kUri) + "; request size = 4"), 1u);
  EXPECT_EQ(tracer->Count("out: type = application/octet-stream; response size = 11"), 1u);

  const ResponseWithEndpoint answer = sender->PostEx(kUri, "{}", stop.GetToken(), false);
  EXPECT_EQ(answer.response.View(), "{\"ok\":true}");
  EXPECT_EQ(answer.localEndpoint, std::nullopt);
  EXPECT_EQ(tracer->Count("out: localEndpoint: {nullopt}"), 1u);
}

// The body byte for byte; a request gets a fresh GUID as its boundary.
TEST_F(RequestSenderTest, MultiPartBodyIsExactWithAFreshGuidBoundary) {
  const std::vector<MultiPart> parts{{"meta", "{\"n\":1}", std::nullopt},
                                     {"events", std::string("\x1F\x8B\x00", 3), "events.gz"}};
  EXPECT_EQ(MultiPartBuilder::BuildBody(parts, "B"),
            std::string("--B\r\n"
                        "Content-Disposition: form-data; name=\"meta\"\r\n"
                        "Content-type: application/json; charset=utf-8\r\n"
                        "\r\n"
                        "{\"n\":1}\r\n"
                        "--B\r\n"
                        "Content-Disposition: form-data; name=\"events\"; filename=\"events.gz\"\r\n"
                        "Content-type: application/gzip\r\n"
                        "\r\n") +
                std::string("\x1F\x8B\x00", 3) + "\r\n--B--");
  EXPECT_EQ(MultiPartBuilder::ContentTypeFor("B"), "multipart/form-data; boundary=B");

  EXPECT_NE(MultiPartBuilder::NewBoundary(), MultiPartBuilder::NewBoundary());
  MakeSender()->PostMultiPart(kUri, parts, stop.GetToken(), false);
  const auto type = HeaderOf(client->requests.at(0), "Content-type").value_or("");
  const std::string prefix = "multipart/form-data; boundary=";
  ASSERT_EQ(type.substr(0, prefix.size()), prefix);
  const std::string boundary = type.substr(prefix.size());
  EXPECT_TRUE(std::regex_match(boundary, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << boundary;
  EXPECT_EQ(client->requests.at(0).body, MultiPartBuilder::BuildBody(parts, boundary));
}

TEST(RequestSenderParts, TunnelFormsAreAcceptedOrRefused) {
  for (const char* tunnel : {"10.1.2.3:3128", "[2001:db8::1]:8080", "10.1.2.3", "2001:db8::1", "::1",
                             "1.2.3.4:65535", "1.2.3.4:1"}) {
    EXPECT_NO_THROW(ValidateTunnelAddress(tunnel)) << tunnel;
  }
  for (const char* tunnel : {"", "proxy.test:3128", "10.1.2.3:0", "10.1.2.3:65536", "10.1.2.3:", "10.1.2.3:+80",
                             "2001:db8::1:8080x", "[2001:db8::1]", "[10.1.2.3]:80", "[2001:db8::1]:", " 10.1.2.3",
                             "10.1.2.3:80 ", "10.1.2:80", "[::1]80"}) {
    const auto e = CatchAs<contract_exception>([&] { ValidateTunnelAddress(tunnel); });
    ASSERT_TRUE(e) << tunnel;
    EXPECT_EQ(e->Message(), "Invalid format of ip address");
    EXPECT_EQ(e->Code(), oru::rc::InvalidArgument);
  }
}

// Where the socket library is at hand, it must agree on every text; the
// expectations stand for it where it is not.
TEST(RequestSenderParts, AddressTextsAreReadAsStrictlyAsTheSocketLibraryReadsThem) {
  struct Case {
    const char* text;
    bool ipv4;
    bool ipv6;
  };
  const Case cases[] = {
      {"0.0.0.0", true, false}, {"255.255.255.255", true, false}, {"10.1.2.3", true, false},
      {"256.1.1.1", false, false}, {"01.2.3.4", false, false}, {"1.2.3", false, false}, {"1.2.3.4.5", false, false},
      {"1.2.3.4 ", false, false}, {"1..3.4", false, false}, {"1234.1.1.1", false, false}, {"", false, false},
      {"::", false, true}, {"::1", false, true}, {"1::", false, true}, {"2001:db8::1", false, true},
      {"1:2:3:4:5:6:7:8", false, true}, {"1:2:3:4:5:6:7::", false, true}, {"::2:3:4:5:6:7:8", false, true},
      {"::ffff:1.2.3.4", false, true}, {"1:2:3:4:5:6:1.2.3.4", false, true}, {"ABCD:ef01::", false, true},
      {"1:2:3:4:5:6:7:8:9", false, false}, {"1:2:3:4:5:6:7", false, false}, {"1::2::3", false, false},
      {":1::", false, false}, {"1::2:", false, false}, {":::", false, false}, {"12345::", false, false},
      {"::1.2.3", false, false}, {"1:2:3:4:5:6:7:1.2.3.4", false, false}, {"1.2.3.4::", false, false},
      {"fe80::1%eth0", false, false}, {"[::1]", false, false}, {"g::1", false, false}, {"::01.2.3.4", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsIpv4AddressText(c.text), c.ipv4) << c.text;
    EXPECT_EQ(IsIpv6AddressText(c.text), c.ipv6) << c.text;
#if !defined(_WIN32)
    unsigned char address[16];
    EXPECT_EQ(inet_pton(AF_INET, c.text, address) == 1, c.ipv4) << c.text;
    EXPECT_EQ(inet_pton(AF_INET6, c.text, address) == 1, c.ipv6) << c.text;
#endif
  }
}

TEST(RequestSenderParts, SecureStringMovesItsTextAway) {
  SecureString text("short");
  text.Append(std::string(100, 'x'));
  SecureString moved(std::move(text));
  EXPECT_EQ(moved.View(), "short" + std::string(100, 'x'));
  EXPECT_TRUE(text.Empty());
}

class FakeClientFactory final
    : public oru::BasicObject<FakeClientFactory, oru::UncountedObject, oru::IHttpClientFactory> {
 public:
  oru::Result CreateClient(const oru::HttpClientSettings& settings, oru::IHttpClient** client) noexcept override {
    received = settings;
    if (oru::Failed(result)) return result;
    *client = FakeHttpClient::Create().Detach();
    return oru::rc::NoError;
  }

  oru::Result result = oru::rc::NoError;
  oru::HttpClientSettings received;
};

TEST(RequestSenderFactory, HandsTheSettingsToTheHostsClientFactory) {
  const auto locator = reference_host::ServiceLocator::Create();
  const RequestSenderStringFactory factory(oru::RefPtr<oru::IServiceLocator>(locator.Get()),
                                           reference_host::Tracer::Create(800), SensitiveDataTracePolicy());
  RequestSenderSettings settings;
  settings.connectionTimeout = 700;
  settings.requestTimeout = 900;
  settings.tunnel = "10.0.0.1";
  const auto refusal = [&] {
    const auto e = CatchAs<sendara_exception>([&] { factory.CreateRequestSender(settings); });
    return e && e->Message() == "can't create http client" ? e->Code() : oru::rc::NoError;
  };
  // No host factory registered.
  EXPECT_EQ(refusal(), oru::rc::NotFound);

  const auto hostFactory = FakeClientFactory::Create();
  locator->Register<oru::IHttpClientFactory>(oru::RefPtr<oru::IHttpClientFactory>(hostFactory.Get()));
  EXPECT_TRUE(factory.CreateRequestSender(settings));
  EXPECT_EQ(hostFactory->received.connectionTimeout, 700u);
  EXPECT_EQ(hostFactory->received.requestTimeout, 900u);
  EXPECT_EQ(hostFactory->received.tunnel, "10.0.0.1");
  EXPECT_FALSE(hostFactory->received.verification);

  const std::string& pem = TestCertificates::Get().serverCertPem;
  settings.serverCerts.assign(pem.begin(), pem.end());
  EXPECT_TRUE(factory.CreateRequestSender(settings));
  EXPECT_TRUE(hostFactory->received.verification);

  hostFactory->result = oru::rc::AccessDenied;
  EXPECT_EQ(refusal(), oru::rc::AccessDenied);

  settings.tunnel = "proxy.test:3128";
  EXPECT_THROW(factory.CreateRequestSender(settings), contract_exception);
}

}  // namespace
