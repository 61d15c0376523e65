#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include "catch_as.h"
#include "component/oru/http_result.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/add_default_scheme.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/convert.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/endpoint_sender_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/http_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/join_events.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/mediator_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/syslog_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/to_syslog_server.h"
#include "host/tracer.h"
#include "loopback_servers.h"

namespace {

using namespace sendara;
using namespace sendara::edr_telemetry;
using Batch = IRequestSender::Batch;

// A port on 127.0.0.1 that nobody listens on: it was bound, then let go.
std::string ClosedPort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  return std::to_string(acceptor.local_endpoint().port());
}

class RecordingEventHandler final : public IConnectionEventHandler {
 public:
  void Connected(std::string_view serverAddress, std::string_view tunnel) override {
    connected.emplace_back(serverAddress);
    tunnels.emplace_back(tunnel);
  }
  void ConnectionError(const ConnectionErrorInfo& info) override { errors.push_back(info); }

  std::vector<std::string> connected;
  std::vector<std::string> tunnels;
  std::vector<ConnectionErrorInfo> errors;
};

// Counts one event of each package, then fails as a broken connection does.
class FailingAfterOneSender final : public IRequestSender {
 public:
  void Send(Batch, std::uint64_t& sentCount, const base::StopToken&) override {
    ++sentCount;
    base::connection_exception exception("connection broke", __FILE__, __LINE__);
    ConnectionErrorInfo info;
    info.serverAddress = "udp endpoint";
    info.ApplyTo(exception);
    throw exception;
  }
  void WaitAndCloseConnections() override {}
};

// The real senders, recording which endpoints were asked for; UDP endpoints
// get a sender that fails after one datagram when told so.
class RecordingSenderFactory final : public IEndpointSenderFactory {
 public:
  explicit RecordingSenderFactory(std::shared_ptr<IEndpointSenderFactory> real) : m_real(std::move(real)) {}
  std::shared_ptr<IRequestSender> CreateSender(const EdrTelemetryEndpoint& endpoint) override {
    created.push_back(endpoint.endpoint);
    if (failUdpAfterOne && endpoint.protocol == EdrTelemetryProtocol::UDP) {
      return std::make_shared<FailingAfterOneSender>();
    }
    return m_real->CreateSender(endpoint);
  }

  bool failUdpAfterOne = false;
  std::vector<std::string> created;

 private:
  std::shared_ptr<IEndpointSenderFactory> m_real;
};

class RequestSendersTest : public ::testing::Test {
 protected:
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }

  std::shared_ptr<IEdrTelemetryClientSettingsProvider> Provider(std::vector<EdrTelemetryEndpoint> endpoints,
                                                                std::uint32_t timeout = 2000) {
    EdrTelemetryClientSettings settings;
    settings.endpoints = std::move(endpoints);
    settings.timeoutConnection = timeout;
    settings.timeoutRequest = timeout;
    return std::make_shared<EdrTelemetryClientSettingsProvider>(Tracer(), settings);
  }
  std::shared_ptr<IRequestSender> Syslog(const EdrTelemetryEndpoint& endpoint) {
    return std::make_shared<SyslogRequestSender>(Tracer(), endpoint, m_syslogFactory, Provider({endpoint}));
  }
  // A mediator over the real senders, seen through `factory`.
  std::unique_ptr<MediatorRequestSender> Mediator(std::vector<EdrTelemetryEndpoint> endpoints,
                                                  std::shared_ptr<RecordingSenderFactory>& factory,
                                                  std::uint32_t timeout = 2000) {
    auto provider = Provider(std::move(endpoints), timeout);
    factory = std::make_shared<RecordingSenderFactory>(
        std::make_shared<EndpointSenderFactory>(Tracer(), provider, m_syslogFactory, nullptr));
    return std::make_unique<MediatorRequestSender>(Tracer(), provider, m_events, factory);
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  std::shared_ptr<syslog::SyslogClientFactoryImpl> m_syslogFactory =
      std::make_shared<syslog::SyslogClientFactoryImpl>(Tracer(), nullptr, base::SensitiveDataTracePolicy(),
                                                        oru::RefPtr<oru::IClientCertificateDecryptor>());
  std::shared_ptr<RecordingEventHandler> m_events = std::make_shared<RecordingEventHandler>();
  base::StopSource m_stop;
};

TEST(RequestSenderHelpers, EndpointTexts) {
  const auto server = ToSyslogServer("siem.example:514");
  EXPECT_EQ(server.host, "siem.example");
  EXPECT_EQ(server.port, "514");
  const auto v6 = ToSyslogServer("[::1]:6514");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, "6514");
  EXPECT_EQ(ToSyslogServer("10.0.0.1:65535").port, "65535");

  for (const std::string address :
       {"", "siem", ":514", "siem:", "siem:0", "siem:65536", "siem:5x4", "siem:+514", "[]:514", "siem:99999999999"}) {
    const auto e = CatchAs<base::sendara_exception>([&] { ToSyslogServer(address); });
    ASSERT_TRUE(e) << address;
    EXPECT_EQ(e->Message(), "wrong endpoint address " + address);
    EXPECT_EQ(e->Code(), oru::rc::InvalidArgument);
  }

  EXPECT_EQ(Convert(EdrTelemetryProtocol::TCP), syslog::SyslogProtocol::Tcp);
  EXPECT_EQ(Convert(EdrTelemetryProtocol::UDP), syslog::SyslogProtocol::Udp);
  EXPECT_EQ(Convert(EdrTelemetryProtocol::TCP_TLS), syslog::SyslogProtocol::EncryptedTcp);
  EXPECT_THROW(Convert(EdrTelemetryProtocol::HTTP), base::sendara_exception);

  EXPECT_EQ(AddDefaultScheme("192.0.2.10:8443/api"), "https://192.0.2.10:8443/api");
  EXPECT_EQ(AddDefaultScheme("http://192.0.2.10/api"), "http://192.0.2.10/api");
  EXPECT_EQ(AddDefaultScheme("HTTP://192.0.2.10"), "https://HTTP://192.0.2.10");
}

TEST(RequestSenderHelpers, JoinEventsKeepsOneLinePerEvent) {
  const std::vector<std::string_view> events{"{\"a\":1}", "{\"b\":\r\n2,\n\"c\":3}\r", ""};
  const std::string joined = JoinEvents(events);
  EXPECT_EQ(joined, "{\"a\":1}\n{\"b\":  2, \"c\":3} \n\n");
  EXPECT_EQ(JoinEvents({}), "");
}

TEST_F(RequestSendersTest, UdpSendsOneDatagramPerEventAndNoneOnceStopped) {
  LoopbackUdpServer server;
  const auto sender = Syslog({EdrTelemetryProtocol::UDP, "127.0.0.1:" + server.Port()});
  const std::vector<std::string_view> events{"first", "second", "third"};
  std::uint64_t sent = 5;
  sender->Send(events, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 8u);
  EXPECT_EQ(server.Receive(), "first");
  EXPECT_EQ(server.Receive(), "second");
  EXPECT_EQ(server.Receive(), "third");

  m_stop.RequestStop();
  const auto e = CatchAs<base::stop_exception>([&] { sender->Send(events, sent, m_stop.GetToken()); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Code(), oru::rc::OperationCancelled);
  EXPECT_EQ(sent, 8u);
  EXPECT_EQ(server.Receive(std::chrono::milliseconds(200)), "");
}

TEST_F(RequestSendersTest, TcpWritesThePackageAsLines) {
  LoopbackTcpServer server;
  const auto sender = Syslog({EdrTelemetryProtocol::TCP, "127.0.0.1:" + server.Port()});
  std::uint64_t sent = 0;
  const std::vector<std::string_view> package{"a", "b"};
  sender->Send(package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 2u);
  ASSERT_TRUE(server.WaitFor(4));
  EXPECT_EQ(server.Received(), "a\nb\n");

  // A line break inside an event must not split it into two messages.
  const std::vector<std::string_view> broken{"{\"x\":\r\n1}"};
  sender->Send(broken, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 3u);
  ASSERT_TRUE(server.WaitFor(14));
  EXPECT_EQ(server.Received(), "a\nb\n{\"x\":  1}\n");
  sender->WaitAndCloseConnections();
}

TEST_F(RequestSendersTest, BracketedIpv6Endpoint) {
  boost::asio::io_context io;
  boost::asio::ip::udp::socket socket(io);
  boost::system::error_code error;
  socket.open(boost::asio::ip::udp::v6(), error);
  if (!error) socket.bind({boost::asio::ip::make_address("::1"), 0}, error);
  if (error) GTEST_SKIP() << "no IPv6 loopback: " << error.message();
  const std::string port = std::to_string(socket.local_endpoint().port());

  const auto sender = Syslog({EdrTelemetryProtocol::UDP, "[::1]:" + port});
  const std::vector<std::string_view> events{"over v6"};
  std::uint64_t sent = 0;
  sender->Send(events, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 1u);
  std::string datagram(64, '\0');
  // Arrived already or on its way: the guard only keeps a lost one from hanging.
  std::size_t size = 0;
  socket.async_receive(boost::asio::buffer(datagram), [&](const boost::system::error_code& e, std::size_t n) {
    if (!e) size = n;
  });
  io.run_for(std::chrono::seconds(5));
  EXPECT_EQ(datagram.substr(0, size), "over v6");
}

// The texts themselves are EndpointTexts'; here only that a sender checks.
TEST_F(RequestSendersTest, BadEndpointTextFailsAtConstruction) {
  const auto e = CatchAs<base::sendara_exception>([&] { Syslog({EdrTelemetryProtocol::TCP, "127.0.0.1:70000"}); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message(), "wrong endpoint address 127.0.0.1:70000");
}

TEST_F(RequestSendersTest, MediatorSkipsARefusingEndpointAndKeepsUdp) {
  LoopbackUdpServer udp;
  // Named in brackets in the connection error, as everywhere else.
  const std::string refused = "[::1]:" + ClosedPort();
  std::shared_ptr<RecordingSenderFactory> factory;
  const auto mediator =
      Mediator({{EdrTelemetryProtocol::TCP, refused}, {EdrTelemetryProtocol::UDP, "127.0.0.1:" + udp.Port()}}, factory);
  const std::vector<std::string_view> first{"one"};
  std::uint64_t sent = 0;
  mediator->Send(first, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 1u);
  EXPECT_EQ(udp.Receive(), "one");
  ASSERT_EQ(m_events->errors.size(), 1u);
  EXPECT_EQ(m_events->errors[0].serverAddress, refused);
  EXPECT_TRUE(m_events->connected.empty());
  EXPECT_EQ(m_tracer->Count("skip endpoint: endpoint = {\"protocol\":\"TCP\",\"endpoint\":\"" + refused + "\"}"), 1u);

  // Kept: the refusing endpoint is not asked again.
  const std::vector<std::string_view> second{"two"};
  mediator->Send(second, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(udp.Receive(), "two");
  EXPECT_EQ(factory->created.size(), 2u);
  EXPECT_EQ(m_tracer->Count("send without handshake"), 1u);
  mediator->WaitAndCloseConnections();
}

TEST_F(RequestSendersTest, MediatorCountsOnlyTheEndpointThatTookThePackage) {
  LoopbackTcpServer tcp;
  const std::string tcpAddress = "127.0.0.1:" + tcp.Port();
  std::shared_ptr<RecordingSenderFactory> factory;
  const auto mediator =
      Mediator({{EdrTelemetryProtocol::UDP, "127.0.0.1:9"}, {EdrTelemetryProtocol::TCP, tcpAddress}}, factory);
  factory->failUdpAfterOne = true;
  const std::vector<std::string_view> package{"a", "b", "c"};
  std::uint64_t sent = 0;
  mediator->Send(package, sent, m_stop.GetToken());
  EXPECT_EQ(sent, 3u);
  ASSERT_TRUE(tcp.WaitFor(6));
  EXPECT_EQ(tcp.Received(), "a\nb\nc\n");
  ASSERT_EQ(m_events->errors.size(), 1u);
  EXPECT_EQ(m_events->errors[0].serverAddress, "udp endpoint");
  ASSERT_EQ(m_events->connected.size(), 1u);
  EXPECT_EQ(m_events->connected[0], tcpAddress);
  EXPECT_EQ(m_events->tunnels[0], "");
  mediator->WaitAndCloseConnections();
}

TEST_F(RequestSendersTest, MediatorWithoutAnyEndpointLeftKeepsThePackage) {
  const std::string first = "127.0.0.1:" + ClosedPort();
  const std::string last = "127.0.0.1:" + ClosedPort();
  std::shared_ptr<RecordingSenderFactory> factory;
  const auto mediator = Mediator({{EdrTelemetryProtocol::TCP, first}, {EdrTelemetryProtocol::TCP, last}}, factory);
  const std::vector<std::string_view> package{"a"};
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::uint64_t sent = 7;
    try {
      mediator->Send(package, sent, m_stop.GetToken());
      ADD_FAILURE();
    } catch (const base::connection_exception& e) {
      EXPECT_EQ(e.Message(), "not available endpoints");
      const auto info = ConnectionErrorInfo::From(e);
      EXPECT_EQ(info.reason, 0u);
      EXPECT_EQ(info.serverAddress, last);
      // The last endpoint's failure travels inside (hence caught in place).
      const auto nested = CatchAs<base::connection_exception>([&] { std::rethrow_if_nested(e); });
      ASSERT_TRUE(nested);
      EXPECT_EQ(ConnectionErrorInfo::From(*nested).serverAddress, last);
    }
    EXPECT_EQ(sent, 7u);
  }
  EXPECT_EQ(factory->created, (std::vector<std::string>{first, last, first, last}));
  EXPECT_EQ(m_events->errors.size(), 4u);
  EXPECT_TRUE(m_events->connected.empty());
}

// The first endpoint accepts the connection but never answers the TLS
// handshake; the stop comes while the mediator waits for it.
TEST_F(RequestSendersTest, StopDuringTheHandshakeTriesNoFurtherEndpoint) {
  LoopbackTcpServer silent(LoopbackTcpServer::Mode::kNeverRead);
  LoopbackTcpServer next;
  std::shared_ptr<RecordingSenderFactory> factory;
  const auto mediator = Mediator({{EdrTelemetryProtocol::TCP_TLS, "127.0.0.1:" + silent.Port()},
                                  {EdrTelemetryProtocol::TCP, "127.0.0.1:" + next.Port()}},
                                 factory, 60000);
  std::thread stopper([&] {
    // The guard only keeps a broken connect from hanging the test.
    for (int i = 0; i < 1000 && silent.Accepted() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_stop.RequestStop();
  });
  const std::vector<std::string_view> package{"a"};
  std::uint64_t sent = 0;
  EXPECT_THROW(mediator->Send(package, sent, m_stop.GetToken()), base::stop_exception);
  stopper.join();
  EXPECT_EQ(silent.Accepted(), 1);
  EXPECT_EQ(sent, 0u);
  EXPECT_TRUE(m_events->errors.empty());
  EXPECT_EQ(factory->created.size(), 1u);
  EXPECT_EQ(next.Accepted(), 0);
  mediator->WaitAndCloseConnections();
}

// Answers every POST by running `post`.
class ScriptedRequestSender final : public base::IRequestSenderString {
 public:
  explicit ScriptedRequestSender(std::function<void()> post) : m_post(std::move(post)) {}
  base::SecureString Get(std::string_view, const base::StopToken&) override { return Unused(); }
  base::SecureString Post(std::string_view, std::string_view, const base::StopToken&, bool) override {
    m_post();
    return base::SecureString("ok");
  }
  base::SecureString PostMultiPart(std::string_view, std::span<const base::MultiPart>, const base::StopToken&,
                                   bool) override {
    return Unused();
  }
  base::SecureString PostBinary(std::string_view, std::string_view, std::span<const std::uint8_t>,
                                const base::StopToken&) override {
    return Unused();
  }
  base::SecureString GetBinary(std::string_view, std::string_view, const base::StopToken&) override {
    return Unused();
  }
  base::ResponseWithEndpoint PostEx(std::string_view, std::string_view, const base::StopToken&, bool) override {
    return {Unused(), std::nullopt};
  }

 private:
  static base::SecureString Unused() { throw std::logic_error("not used by the sender"); }
  std::function<void()> m_post;
};

class ScriptedRequestSenderFactory final : public IRequestSenderStringFactory {
 public:
  explicit ScriptedRequestSenderFactory(std::function<void()> post) : m_post(std::move(post)) {}
  std::shared_ptr<base::IRequestSenderString> CreateRequestSender() override {
    return std::make_shared<ScriptedRequestSender>(m_post);
  }

 private:
  std::function<void()> m_post;
};

// Failures of the request layer other than error statuses: none of them is
// a delivery, and the endpoint is named.
TEST_F(RequestSendersTest, HttpFailuresWithoutStatusKeepThePackage) {
  struct Case {
    std::function<void()> post;
    oru::Result code;
    std::uint32_t reason;
  };
  const std::vector<Case> cases{
      // A code that is no failure says nothing about the package.
      {[] { throw base::sendara_exception(oru::rc::NoError, "odd", __FILE__, __LINE__); },
       oru::rc::ExceptionWithSuccessfulResultCode, 0},
      {[] { throw base::tools_exception(oru::http_result::kServerCertificateRejected, "tls", __FILE__, __LINE__); },
       oru::http_result::kServerCertificateRejected, 2},
      {[] { throw base::tools_exception(oru::http_result::kTlsFailure, "tls", __FILE__, __LINE__); },
       oru::http_result::kTlsFailure, 2},
      {[] { throw base::tools_exception(oru::rc::NetworkError, "net", __FILE__, __LINE__); }, oru::rc::NetworkError,
       0},
      // The request layer's own "no final status".
      {[] { throw base::connection_exception("can't send request", __FILE__, __LINE__); }, oru::rc::NetworkError, 0},
  };
  for (const Case& c : cases) {
    HttpRequestSender sender(Tracer(), "192.0.2.10:8443/api", false,
                             std::make_shared<ScriptedRequestSenderFactory>(c.post));
    EXPECT_EQ(sender.Url(), "https://192.0.2.10:8443/api");
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    std::uint64_t sent = 0;
    const std::vector<std::string_view> package{"a"};
    const auto e = CatchAs<base::connection_exception>([&] { sender.Send(package, sent, m_stop.GetToken()); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message(), "can't send request");
    EXPECT_EQ(e->Code(), c.code);
    const auto info = ConnectionErrorInfo::From(*e);
    EXPECT_EQ(info.reason, c.reason);
    EXPECT_EQ(info.serverAddress, "https://192.0.2.10:8443/api");
    EXPECT_EQ(sent, 0u);
  }
  EXPECT_THROW(HttpRequestSender(Tracer(), "", false, std::make_shared<ScriptedRequestSenderFactory>([] {})),
               base::sendara_exception);
}

// A request that a stop ended is no fault of the endpoint: nothing is
// reported and no other endpoint is tried.
TEST_F(RequestSendersTest, StopDuringAnHttpSendEndsTheHandshake) {
  LoopbackTcpServer next;
  auto provider = Provider({{EdrTelemetryProtocol::HTTP, "http://127.0.0.1:9/in"},
                            {EdrTelemetryProtocol::TCP, "127.0.0.1:" + next.Port()}});
  const auto factory = std::make_shared<RecordingSenderFactory>(std::make_shared<EndpointSenderFactory>(
      Tracer(), provider, m_syslogFactory, std::make_shared<ScriptedRequestSenderFactory>([this] {
        m_stop.RequestStop();
        throw base::connection_exception("can't send request", __FILE__, __LINE__);
      })));
  MediatorRequestSender mediator(Tracer(), provider, m_events, factory);
  const std::vector<std::string_view> package{"a"};
  std::uint64_t sent = 0;
  const auto e = CatchAs<base::stop_exception>([&] { mediator.Send(package, sent, m_stop.GetToken()); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Code(), oru::rc::OperationCancelled);
  EXPECT_EQ(factory->created.size(), 1u);
  EXPECT_TRUE(m_events->errors.empty());
  EXPECT_EQ(next.Accepted(), 0);
}

}  // namespace
