#include <zlib.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/bad_request_exception.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/not_found_exception.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/client_request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/http_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/mediator_request_sender.h"
#include "connection_failure.h"
#include "host/http/http_client_factory.h"
#include "host/service_locator.h"
#include "host/tracer.h"
#include "loopback_http_server.h"

namespace {

using namespace sendara;
using namespace sendara::edr_telemetry;
using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

std::string Gunzip(const std::string& compressed) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
  std::string out(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

class RecordingEventHandler final : public IConnectionEventHandler {
 public:
  void Connected(std::string_view serverAddress, std::string_view) override { connected.emplace_back(serverAddress); }
  void ConnectionError(const ConnectionErrorInfo& info) override { errors.push_back(info); }

  std::vector<std::string> connected;
  std::vector<ConnectionErrorInfo> errors;
};

class HttpRequestSenderTest : public ::testing::Test {
 protected:
  HttpRequestSenderTest() {
    m_locator->Register<oru::IHttpClientFactory>(oru::RefPtr<oru::IHttpClientFactory>(m_hostFactory.Get()));
  }
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }

  std::shared_ptr<IEdrTelemetryClientSettingsProvider> Provider(std::vector<EdrTelemetryEndpoint> endpoints,
                                                                std::uint32_t timeout = 5000) {
    EdrTelemetryClientSettings settings;
    settings.endpoints = std::move(endpoints);
    settings.timeoutConnection = timeout;
    settings.timeoutRequest = timeout;
    settings.gzipCompressionLevel = 5;
    return std::make_shared<EdrTelemetryClientSettingsProvider>(Tracer(), settings);
  }
  std::shared_ptr<IRequestSenderStringFactory> RequestSenderFactory(
      const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& provider) {
    return std::make_shared<ClientRequestSenderStringFactory>(
        std::make_shared<base::RequestSenderStringFactory>(oru::RefPtr<oru::IServiceLocator>(m_locator.Get()), Tracer(),
                                                           base::SensitiveDataTracePolicy()),
        provider);
  }
  HttpRequestSender Sender(const std::string& url, bool compress = false) {
    return HttpRequestSender(Tracer(), url, compress,
                             RequestSenderFactory(Provider({{EdrTelemetryProtocol::HTTP, url}})));
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  oru::RefPtr<reference_host::HttpClientFactory> m_hostFactory = reference_host::HttpClientFactory::Create();
  oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  base::StopSource m_stop;
  const std::vector<std::string_view> m_package{"{\"a\":1}", "{\"b\":2}"};
};

TEST_F(HttpRequestSenderTest, PostsTheEventsAsLines) {
  LoopbackHttpServer server([](const Request&) { return Response::With(200); });
  auto sender = Sender(server.Url("/events"));
  std::uint64_t sent = 1;
  sender.Send(m_package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 3u);
  ASSERT_EQ(server.Requests().size(), 1u);
  const Request request = server.Requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/events");
  EXPECT_EQ(request.body, "{\"a\":1}\n{\"b\":2}\n");
  EXPECT_EQ(request.Header("Content-type"), "application/json; charset=utf-8");
  EXPECT_EQ(request.Header("Content-Encoding"), "");

  auto compressing = Sender(server.Url("/events"), true);
  compressing.Send(m_package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 5u);
  ASSERT_EQ(server.Requests().size(), 2u);
  const Request compressed = server.Requests()[1];
  EXPECT_EQ(compressed.Header("Content-Encoding"), "gzip");
  EXPECT_EQ(Gunzip(compressed.body), "{\"a\":1}\n{\"b\":2}\n");
}

TEST_F(HttpRequestSenderTest, NoContentAndRedirectAreDelivered) {
  for (const unsigned status : {204u, 302u}) {
    LoopbackHttpServer server([status](const Request&) {
      return Response::With(status, {}, {{"Location", "http://127.0.0.1:1/elsewhere"}});
    });
    auto sender = Sender(server.Url());
    std::uint64_t sent = 0;
    sender.Send(m_package, sent, m_stop.GetToken());
    EXPECT_EQ(sent, 2u) << status;
    EXPECT_EQ(server.Requests().size(), 1u) << status;
  }
}

// In the order of the status table.
TEST_F(HttpRequestSenderTest, ErrorStatusesBecomeTheirExceptions) {
  struct Case {
    unsigned status;
    enum { kBadRequest, kNotFound, kConnection, kInternal } kind;
    oru::Result code;
    std::string message;
    std::uint32_t reason;
  };
  const std::vector<Case> cases{
      {400, Case::kBadRequest, oru::rc::InvalidArgument, "bad request error", 0},
      {406, Case::kBadRequest, oru::rc::InvalidArgument, "bad request error", 0},
      {413, Case::kBadRequest, oru::rc::InvalidArgument, "bad request error", 0},
      {404, Case::kNotFound, oru::rc::InvalidArgument, "not found error", 0},
      {401, Case::kConnection, oru::rc::InvalidState, "unauthorized request error", 1},
      {403, Case::kConnection, oru::rc::InvalidState, "unauthorized request error", 1},
      {405, Case::kInternal, oru::rc::InvalidArgument, "client error responses, converted to internal error", 0},
      {429, Case::kInternal, oru::rc::InvalidArgument, "client error responses, converted to internal error", 0},
      {500, Case::kInternal, oru::rc::InvalidState, "server error processing request", 0},
      {502, Case::kInternal, oru::rc::InvalidState, "server error processing request", 0},
      {504, Case::kInternal, oru::rc::InvalidState, "server error processing request", 0},
      {503, Case::kInternal, oru::rc::NotReady, "server is not ready to receive requests", 0},
      {501, Case::kConnection, oru::rc::InvalidState, "can't send request", 0},
      {505, Case::kConnection, oru::rc::InvalidState, "can't send request", 0},
  };
  for (const Case& c : cases) {
    LoopbackHttpServer server([&c](const Request&) { return Response::With(c.status); });
    auto sender = Sender(server.Url("/in"));
    std::uint64_t sent = 0;
    try {
      sender.Send(m_package, sent, m_stop.GetToken());
      ADD_FAILURE() << c.status;
    } catch (const base::bad_request_exception& e) {
      EXPECT_EQ(c.kind, Case::kBadRequest) << c.status;
      EXPECT_EQ(e.Message(), c.message) << c.status;
      EXPECT_EQ(e.Code(), c.code) << c.status;
    } catch (const base::not_found_exception& e) {
      EXPECT_EQ(c.kind, Case::kNotFound) << c.status;
      EXPECT_EQ(e.Message(), c.message) << c.status;
      EXPECT_EQ(e.Code(), c.code) << c.status;
    } catch (const base::internal_exception& e) {
      EXPECT_EQ(c.kind, Case::kInternal) << c.status;
      EXPECT_EQ(e.Message(), c.message) << c.status;
      EXPECT_EQ(e.Code(), c.code) << c.status;
    } catch (const base::connection_exception& e) {
      EXPECT_EQ(c.kind, Case::kConnection) << c.status;
      EXPECT_EQ(e.Message(), c.message) << c.status;
      EXPECT_EQ(e.Code(), c.code) << c.status;
      const auto info = ConnectionErrorInfo::From(e);
      EXPECT_EQ(info.reason, c.reason) << c.status;
      EXPECT_EQ(info.serverAddress, server.Url("/in")) << c.status;
    }
    EXPECT_EQ(sent, 0u) << c.status;
  }
}

TEST_F(HttpRequestSenderTest, MediatorKeepsAnEndpointThatRefusedThePackage) {
  std::vector<unsigned> statuses{413, 200};
  LoopbackHttpServer server([&statuses](const Request&) {
    const unsigned status = statuses.front();
    if (statuses.size() > 1) statuses.erase(statuses.begin());
    return Response::With(status);
  });
  LoopbackHttpServer second([](const Request&) { return Response::With(200); });
  // Without a scheme the url would be https; this server speaks plain HTTP.
  const std::string url = server.Url("/siem");
  const auto provider =
      Provider({{EdrTelemetryProtocol::HTTP, url}, {EdrTelemetryProtocol::HTTP, second.Url("/siem")}});
  const auto events = std::make_shared<RecordingEventHandler>();
  MediatorRequestSender mediator(Tracer(), provider, events, nullptr, RequestSenderFactory(provider));

  std::uint64_t sent = 0;
  EXPECT_THROW(mediator.Send(m_package, sent, m_stop.GetToken()), base::bad_request_exception);
  EXPECT_EQ(sent, 0u);
  EXPECT_EQ(events->connected, std::vector<std::string>{url});
  EXPECT_TRUE(events->errors.empty());
  EXPECT_TRUE(second.Requests().empty());

  mediator.Send(m_package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_TRUE(second.Requests().empty());
  EXPECT_EQ(m_tracer->Count("send without handshake"), 1u);
}

// 404 says nothing about the next endpoint: it is skipped. Once chosen, an
// endpoint that is busy (503) stays the one: the package waits for it.
TEST_F(HttpRequestSenderTest, MediatorSkipsNotFoundAndStaysWithABusyEndpoint) {
  LoopbackHttpServer missing([](const Request&) { return Response::With(404); });
  std::vector<unsigned> statuses{200, 503, 200};
  LoopbackHttpServer busy([&statuses](const Request&) {
    const unsigned status = statuses.front();
    if (statuses.size() > 1) statuses.erase(statuses.begin());
    return Response::With(status);
  });
  const auto provider = Provider({{EdrTelemetryProtocol::HTTP, missing.Url("/siem")},
                                  {EdrTelemetryProtocol::HTTP_COMPRESSED, busy.Url("/siem")}});
  const auto events = std::make_shared<RecordingEventHandler>();
  MediatorRequestSender mediator(Tracer(), provider, events, nullptr, RequestSenderFactory(provider));

  std::uint64_t sent = 0;
  mediator.Send(m_package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(events->connected, std::vector<std::string>{busy.Url("/siem")});
  EXPECT_EQ(missing.Requests().size(), 1u);

  try {
    mediator.Send(m_package, sent, m_stop.GetToken());
    ADD_FAILURE();
  } catch (const base::internal_exception& e) {
    EXPECT_EQ(e.Message(), "server is not ready to receive requests");
  }
  mediator.Send(m_package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 4u);
  EXPECT_EQ(busy.Requests().size(), 3u);
  EXPECT_EQ(missing.Requests().size(), 1u);
  EXPECT_TRUE(events->errors.empty());
}

// Time-outs of a minute: only the stop can end the held request before the
// guard gives up.
TEST_F(HttpRequestSenderTest, AStopEndsAHeldPostWithoutAConnectionError) {
  bool first = true;
  LoopbackHttpServer server([&first](const Request&) {
    Response response = Response::With(200);
    response.hold = !std::exchange(first, false);
    return response;
  });
  const auto provider = Provider({{EdrTelemetryProtocol::HTTP, server.Url("/siem")}}, 60000);
  const auto events = std::make_shared<RecordingEventHandler>();
  MediatorRequestSender mediator(Tracer(), provider, events, nullptr, RequestSenderFactory(provider));
  std::uint64_t sent = 0;
  mediator.Send(m_package, sent, m_stop.GetToken());
  ASSERT_EQ(sent, 2u);

  auto held = std::async(std::launch::async, [&] { mediator.Send(m_package, sent, m_stop.GetToken()); });
  ASSERT_TRUE(server.WaitForRequests(2));
  m_stop.RequestStop();

  // A hang guard only: the request itself would wait for a minute.
  ASSERT_EQ(held.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_THROW(held.get(), base::stop_exception);
  EXPECT_EQ(sent, 2u);
  EXPECT_TRUE(events->errors.empty());
}

// The server takes the request and answers only once the sender has given
// up on it and is gone: the late answer must find nothing of it to touch.
TEST_F(HttpRequestSenderTest, AnUnansweredPostEndsAfterTheBoundedWaitAndItsLateAnswerIsHarmless) {
  std::promise<void> arrived;
  std::promise<void> answer;
  std::shared_future<void> answering = answer.get_future().share();
  LoopbackHttpServer server([&](const Request&) {
    arrived.set_value();
    answering.wait();
    return Response::With(200);
  });
  // Answers the server even when an assertion below ends the test early.
  struct Answer {
    std::promise<void>& promise;
    bool given = false;
    void Give() {
      if (!std::exchange(given, true)) promise.set_value();
    }
    ~Answer() { Give(); }
  } late{answer};

  std::uint64_t sent = 0;
  {
    HttpRequestSender sender(Tracer(), server.Url("/late"), false,
                             RequestSenderFactory(Provider({{EdrTelemetryProtocol::HTTP, server.Url("/late")}}, 50)));
    const auto failure = ConnectionFailureOf([&] { sender.Send(m_package, sent, m_stop.GetToken()); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->reason, 0u);
    EXPECT_EQ(failure->serverAddress, server.Url("/late"));
  }
  EXPECT_EQ(arrived.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  late.Give();
  // The answer has been written (or refused by the closed connection) once
  // the server has recorded the request.
  EXPECT_TRUE(server.WaitForRequests(1));
  EXPECT_EQ(sent, 0u);
}

}  // namespace
