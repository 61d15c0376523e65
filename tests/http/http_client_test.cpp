#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include "component/oru/http_client_settings.h"
#include "component/oru/http_result.h"
#include "component/oru/i_http_client.h"
#include "component/oru/result_code.h"
#include "connect_proxy.h"
#include "host/http/http_client_configuration.h"
#include "host/http/http_client_factory.h"
#include "loopback_http_server.h"
#include "recording_callback.h"

namespace {

using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

oru::RefPtr<oru::IHttpClient> MakeClient(const oru::HttpClientSettings& settings = {}) {
  auto factory = reference_host::HttpClientFactory::Create();
  oru::IHttpClient* client = nullptr;
  EXPECT_EQ(factory->CreateClient(settings, &client), oru::rc::NoError);
  return oru::RefPtr<oru::IHttpClient>::Adopt(client);
}

// Starts a request; the returned record fills as it runs.
std::shared_ptr<RecordingCallback::Record> Start(oru::IHttpClient& client, oru::HttpMethod method,
                                                 const std::string& url, const oru::HttpRequestOptions& options = {},
                                                 std::shared_ptr<const std::string> body = nullptr,
                                                 oru::RefPtr<oru::IHttpRequestController>* controller = nullptr) {
  auto callback = RecordingCallback::Create();
  oru::IHttpRequestController* started = nullptr;
  EXPECT_EQ(client.MakeRequestAsync(method, url, options, std::move(body), callback.Get(), &started),
            oru::rc::NoError);
  auto ownedController = oru::RefPtr<oru::IHttpRequestController>::Adopt(started);
  if (controller) *controller = std::move(ownedController);
  return callback->Recorded();
}

std::shared_ptr<RecordingCallback::Record> Get(oru::IHttpClient& client, const std::string& url,
                                               const oru::HttpRequestOptions& options = {}) {
  auto record = Start(client, oru::HttpMethod::kGet, url, options);
  EXPECT_TRUE(record->WaitForCompletion());
  return record;
}

std::string Gzip(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

Response Hold(const Request&) {
  Response response;
  response.hold = true;
  return response;
}

TEST(HttpClient, PostArrivesAsSent) {
  LoopbackHttpServer server([](const Request&) { return Response::With(201, "created"); });
  auto client = MakeClient();
  oru::HttpRequestOptions options;
  options.headers = {{"X-Telemetry-Batch", "17"}, {"Content-Type", "application/json"}};
  auto body = std::make_shared<const std::string>(R"({"events":[1,2,3]})");

  auto record = Start(*client, oru::HttpMethod::kPost, server.Url("/ingest?source=edr"), options, body);
  ASSERT_TRUE(record->WaitForCompletion());

  EXPECT_EQ(record->result, oru::rc::NoError);
  EXPECT_EQ(record->status, 201);
  EXPECT_EQ(record->body, "created");
  ASSERT_EQ(server.Requests().size(), 1u);
  const Request request = server.Requests().front();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/ingest?source=edr");
  EXPECT_EQ(request.Header("X-Telemetry-Batch"), "17");
  EXPECT_EQ(request.Header("Content-Type"), "application/json");
  EXPECT_EQ(request.body, *body);
}

TEST(HttpClient, GzipBodyIsDecodedBeforeResponseData) {
  const std::string text(5000, 'z');
  LoopbackHttpServer server([&](const Request& request) {
    if (request.Header("Accept-Encoding").find("gzip") == std::string::npos) return Response::With(406);
    return Response::With(200, Gzip(text), {{"Content-Encoding", "gzip"}});
  });
  auto client = MakeClient();
  oru::HttpRequestOptions options;
  options.acceptedEncoding = "gzip";

  auto record = Get(*client, server.Url(), options);

  EXPECT_EQ(record->result, oru::rc::NoError);
  EXPECT_EQ(record->status, 200);
  EXPECT_EQ(record->body, text);
}

TEST(HttpClient, StatusesComeBackAsTheyAreWithoutFollowingRedirects) {
  LoopbackHttpServer server([](const Request& request) {
    if (request.target == "/moved") return Response::With(302, {}, {{"Location", "/elsewhere"}});
    if (request.target == "/missing") return Response::With(404);
    return Response::With(500, "broken");
  });
  auto client = MakeClient();

  auto moved = Get(*client, server.Url("/moved"));
  EXPECT_EQ(moved->result, oru::rc::NoError);
  EXPECT_EQ(moved->status, 302);
  auto missing = Get(*client, server.Url("/missing"));
  EXPECT_EQ(missing->result, oru::rc::NoError);
  EXPECT_EQ(missing->status, 404);
  auto broken = Get(*client, server.Url("/broken"));
  EXPECT_EQ(broken->result, oru::rc::NoError);
  EXPECT_EQ(broken->status, 500);
  EXPECT_EQ(broken->body, "broken");

  // The redirect's target was never asked for.
  ASSERT_EQ(server.Requests().size(), 3u);
  for (const Request& request : server.Requests()) EXPECT_NE(request.target, "/elsewhere");
}

TEST(HttpClient, CancelEndsHeldRequest) {
  LoopbackHttpServer server(Hold);
  auto client = MakeClient();
  oru::RefPtr<oru::IHttpRequestController> controller;
  auto record = Start(*client, oru::HttpMethod::kGet, server.Url(), {}, nullptr, &controller);
  ASSERT_TRUE(server.WaitForRequests(1));

  EXPECT_EQ(controller->Cancel(), oru::rc::NoError);

  ASSERT_TRUE(record->WaitForCompletion(std::chrono::seconds(5)));
  EXPECT_EQ(record->result, oru::rc::OperationCancelled);
  EXPECT_EQ(record->completions, 1);
  // The client holds the callback no longer once it has completed.
  EXPECT_TRUE(record->WaitForRelease(std::chrono::seconds(5)));
  // Cancelling a completed request changes nothing.
  EXPECT_EQ(controller->Cancel(), oru::rc::NoError);
  EXPECT_EQ(record->completions, 1);
}

TEST(HttpClient, SilentServerTimesOut) {
  LoopbackHttpServer server(Hold);
  auto client = MakeClient();
  oru::HttpRequestOptions options;
  options.requestTimeout = 300;

  auto record = Start(*client, oru::HttpMethod::kGet, server.Url(), options);

  ASSERT_TRUE(record->WaitForCompletion(std::chrono::seconds(5)));
  EXPECT_EQ(record->result, oru::rc::OperationTimeout);
  EXPECT_EQ(record->status, 0);
}

// Once a final status has come the server has decided: a body past the kept
// size, or one that stalls before it is whole, changes nothing. The first
// ends at the kept size, the second at the request's time-out.
TEST(HttpClient, TheStatusDecidesWhateverTheBodyDoesAfterIt) {
  LoopbackHttpServer server([](const Request& request) {
    Response response;
    response.trickle = request.target == "/endless" ? Response::Trickle::kEndless : Response::Trickle::kStalled;
    return response;
  });
  auto client = MakeClient();
  oru::HttpRequestOptions options;
  options.requestTimeout = 1000;
  for (const std::string path : {"/endless", "/stalled"}) {
    SCOPED_TRACE(path);
    auto record = Start(*client, oru::HttpMethod::kGet, server.Url(path), options);
    ASSERT_TRUE(record->WaitForCompletion(std::chrono::seconds(10)));
    EXPECT_EQ(record->result, oru::http_result::kAnswerBodyIncomplete);
    EXPECT_EQ(record->status, 200);
    if (path == "/endless") {
      EXPECT_GE(record->body.size(), 1024u * 1024u);
      EXPECT_LT(record->body.size(), 2u * 1024u * 1024u);
    } else {
      EXPECT_EQ(record->body, std::string(10, 'x'));
    }
  }
}

TEST(HttpClient, RefusedConnectionIsNetworkError) {
  // A port that was just free and has no listener.
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const std::string url = "http://127.0.0.1:" + std::to_string(probe.local_endpoint().port()) + "/";
  probe.close();
  auto client = MakeClient();

  auto record = Get(*client, url);

  EXPECT_EQ(record->result, oru::rc::NetworkError);
  EXPECT_EQ(record->status, 0);
}

TEST(HttpClient, DestroyingClientCancelsPendingRequest) {
  LoopbackHttpServer server(Hold);
  auto client = MakeClient();
  oru::RefPtr<oru::IHttpRequestController> controller;
  auto record = Start(*client, oru::HttpMethod::kPost, server.Url(), {},
                      std::make_shared<const std::string>("pending"), &controller);
  ASSERT_TRUE(server.WaitForRequests(1));
  // Only the client holds the callback now: the caller stopped waiting.
  {
    std::lock_guard lock(record->mutex);
    ASSERT_FALSE(record->released);
  }

  client.Reset();

  // Completed on the way out, and released after that.
  EXPECT_EQ(record->completions, 1);
  EXPECT_EQ(record->result, oru::rc::OperationCancelled);
  EXPECT_TRUE(record->released);
  // The controller outlives its client harmlessly.
  EXPECT_EQ(controller->Cancel(), oru::rc::NoError);
}

TEST(HttpClient, RefusesWhatItCannotSend) {
  auto client = MakeClient();
  auto callback = RecordingCallback::Create();
  oru::IHttpRequestController* controller = nullptr;
  const auto make = [&](std::string_view url, const oru::HttpRequestOptions& options,
                        oru::IHttpRequestCallback* to) {
    return client->MakeRequestAsync(oru::HttpMethod::kGet, url, options, nullptr, to, &controller);
  };
  oru::HttpRequestOptions injecting;
  injecting.headers = {{"X-Name", "value\r\nX-Injected: yes"}};

  EXPECT_EQ(make("http://127.0.0.1:1/", {}, nullptr), oru::rc::InvalidArgument);
  EXPECT_EQ(make("ftp://127.0.0.1/file", {}, callback.Get()), oru::rc::InvalidArgument);
  EXPECT_EQ(make("not a url", {}, callback.Get()), oru::rc::InvalidArgument);
  EXPECT_EQ(make("http://127.0.0.1:1/", injecting, callback.Get()), oru::rc::InvalidArgument);
  EXPECT_EQ(controller, nullptr);
  EXPECT_EQ(callback->Recorded()->completions, 0);
}

// The operator's headers for an endpoint follow the request's own on every
// request to that endpoint (scheme, host, port, path and query as libcurl
// reads them), and on no other: another path, query or port of the same host.
TEST(HttpClient, OperatorHeadersGoToTheirEndpointOnly) {
  LoopbackHttpServer server([](const Request&) { return Response::With(200); });
  LoopbackHttpServer otherPort([](const Request&) { return Response::With(200); });
  LoopbackHttpServer::Options v6Options;
  v6Options.address = "::1";
  v6Options.handler = [](const Request&) { return Response::With(200); };
  LoopbackHttpServer v6(v6Options);
  const std::string v6Url = "http://[::1]:" + std::to_string(v6.Port()) + "/v6";
  reference_host::HttpClientConfiguration configuration;
  // The same endpoint as v6Url, spelled otherwise.
  const std::string v6Endpoint = "HTTP://[::1]:" + std::to_string(v6.Port()) + "/v6";
  configuration.endpoints = {{server.Url("/ingest?tenant=7"), {{"X-Api-Key", "k3y-of-the-endpoint"}}},
                             {v6Endpoint, {{"Authorization", "Bearer t0ken"}}}};
  auto factory = reference_host::HttpClientFactory::Create(std::move(configuration));
  oru::IHttpClient* created = nullptr;
  ASSERT_EQ(factory->CreateClient({}, &created), oru::rc::NoError);
  auto client = oru::RefPtr<oru::IHttpClient>::Adopt(created);
  oru::HttpRequestOptions options;
  options.headers = {{"X-Caller", "component"}};

  for (const std::string& url : {server.Url("/ingest?tenant=7"), server.Url("/ingest"), server.Url("/other?tenant=7"),
                                 otherPort.Url("/ingest?tenant=7"), v6Url}) {
    EXPECT_EQ(Get(*client, url, options)->result, oru::rc::NoError) << url;
  }

  const auto names = [](const Request& request) {
    std::vector<std::string> names;
    for (const auto& [name, value] : request.headers) {
      if (name.rfind("X-", 0) == 0 || name == "Authorization") names.push_back(name);
    }
    return names;
  };
  const std::vector<Request> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "/ingest?tenant=7");
  EXPECT_EQ(names(requests[0]), (std::vector<std::string>{"X-Caller", "X-Api-Key"}));
  EXPECT_EQ(requests[0].Header("X-Api-Key"), "k3y-of-the-endpoint");
  EXPECT_EQ(names(requests[1]), std::vector<std::string>{"X-Caller"});
  EXPECT_EQ(names(requests[2]), std::vector<std::string>{"X-Caller"});
  ASSERT_EQ(otherPort.Requests().size(), 1u);
  EXPECT_EQ(names(otherPort.Requests()[0]), std::vector<std::string>{"X-Caller"});
  ASSERT_EQ(v6.Requests().size(), 1u);
  EXPECT_EQ(v6.Requests()[0].Header("Authorization"), "Bearer t0ken");

  // A configuration the client could not act on is refused at once.
  EXPECT_THROW(reference_host::HttpClientFactory::Create(
                   reference_host::HttpClientConfiguration{{}, {{"ftp://127.0.0.1/", {{"X-Api-Key", "k"}}}}}),
               std::invalid_argument);
  EXPECT_THROW(reference_host::HttpClientFactory::Create(
                   reference_host::HttpClientConfiguration{{}, {{server.Url(), {{"X-Api-Key", "k\r\nX-More: 1"}}}}}),
               std::invalid_argument);
}

// The request reaches the server through the proxy's CONNECT, with the proxy
// named by each form of tunnel text a port can be given in.
TEST(HttpClient, TunnelGoesThroughConnect) {
  LoopbackHttpServer server([](const Request&) { return Response::With(200, "tunnelled"); });
  for (const std::string proxyAddress : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(proxyAddress);
    ConnectProxy proxy(proxyAddress);
    auto client = MakeClient();
    oru::HttpRequestOptions options;
    options.tunnel = proxy.Tunnel();

    auto record = Get(*client, server.Url("/through"), options);

    EXPECT_EQ(record->result, oru::rc::NoError);
    EXPECT_EQ(record->status, 200);
    EXPECT_EQ(record->body, "tunnelled");
    ASSERT_EQ(proxy.RequestLines().size(), 1u);
    EXPECT_EQ(proxy.RequestLines().front(),
              "CONNECT 127.0.0.1:" + std::to_string(server.Port()) + " HTTP/1.1");
  }
  EXPECT_EQ(server.Requests().size(), 2u);
}

// A bare address names a proxy on the default proxy port, 1080. The proxy
// listens on a loopback address of its own so that the port is free.
TEST(HttpClient, BareTunnelAddressUsesTheDefaultProxyPort) {
  LoopbackHttpServer server([](const Request&) { return Response::With(200, "tunnelled"); });
  std::unique_ptr<ConnectProxy> proxy;
  try {
    proxy = std::make_unique<ConnectProxy>("127.0.0.77", 1080);
  } catch (const boost::system::system_error& error) {
    GTEST_SKIP() << "no proxy on 127.0.0.77:1080: " << error.what();
  }
  auto client = MakeClient();
  oru::HttpRequestOptions options;
  options.tunnel = "127.0.0.77";

  auto record = Get(*client, server.Url("/through"), options);

  EXPECT_EQ(record->result, oru::rc::NoError);
  EXPECT_EQ(record->body, "tunnelled");
  EXPECT_EQ(proxy->RequestLines().size(), 1u);
}

}  // namespace
