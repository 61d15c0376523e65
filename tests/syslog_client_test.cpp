#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"
#include "host/sensitive_data_policy.h"
#include "host/tracer.h"
#include "connection_failure.h"
#include "loopback_servers.h"

namespace {

using namespace sendara;
using namespace sendara::syslog;

class SyslogClientTest : public ::testing::Test {
 protected:
  oru::RefPtr<ISyslogClient> Client(SyslogProtocol protocol, std::uint32_t timeoutRequest = 2000) {
    SyslogClientSettings settings;
    settings.protocol = protocol;
    settings.timeoutConnection = 2000;
    settings.timeoutRequest = timeoutRequest;
    return m_factory.CreateSyslogClient(settings);
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  SyslogClientFactoryImpl m_factory{oru::RefPtr<oru::ITracer>(m_tracer.Get()), nullptr, {}, {}};
};

TEST_F(SyslogClientTest, TcpMessagesShareOneConnectionAndArriveAsWritten) {
  LoopbackTcpServer server;
  auto client = Client(SyslogProtocol::Tcp);
  const SyslogServer destination{"127.0.0.1", server.Port()};
  client->MakeRequestAsync(destination, "a\nb\n");
  client->MakeRequestAsync(destination, "c\n");
  ASSERT_TRUE(server.WaitFor(6));
  EXPECT_EQ(server.Received(), "a\nb\nc\n");
  EXPECT_EQ(server.Accepted(), 1);

  // After a pass the next message connects anew, although the pass ended
  // with a stop.
  EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError);
  client->MakeRequestAsync(destination, "d\n");
  ASSERT_TRUE(server.WaitFor(8));
  EXPECT_EQ(server.Accepted(), 2);
}

// A server that spoke before it hung up must not hide the end of the stream
// behind what it said.
TEST_F(SyslogClientTest, PeerThatHungUpIsNotWrittenInto) {
  for (const auto mode : {LoopbackTcpServer::Mode::kHangUpAfterRead, LoopbackTcpServer::Mode::kAnswerAndHangUpAfterRead}) {
    m_tracer->Clear();
    LoopbackTcpServer server(mode);
    auto client = Client(SyslogProtocol::Tcp);
    const SyslogServer destination{"127.0.0.1", server.Port()};
    client->MakeRequestAsync(destination, "first\n");
    ASSERT_TRUE(server.WaitFor(6));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the hang-up reaches the client
    client->MakeRequestAsync(destination, "second\n");
    ASSERT_TRUE(server.WaitFor(13));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // and hung up again
    client->MakeRequestAsync(destination, "third\n");
    ASSERT_TRUE(server.WaitFor(19));
    EXPECT_EQ(server.Received(), "first\nsecond\nthird\n");
    EXPECT_EQ(server.Accepted(), 3);
    EXPECT_EQ(m_tracer->Count("was closed, connect anew"), 2u);
  }
}

TEST_F(SyslogClientTest, FailedReconnectLeavesNothingBehindForTheNextMessage) {
  auto client = Client(SyslogProtocol::Tcp);
  unsigned short port = 0;
  {
    LoopbackTcpServer server(LoopbackTcpServer::Mode::kHangUpAfterRead);
    port = static_cast<unsigned short>(std::stoi(server.Port()));
    client->MakeRequestAsync({"127.0.0.1", server.Port()}, "first\n");
    ASSERT_TRUE(server.WaitFor(6));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the hang-up reaches the client
  }
  const SyslogServer destination{"127.0.0.1", std::to_string(port)};
  // Hung up, and nobody listens any more: connecting anew fails.
  ASSERT_TRUE(ConnectionFailureOf([&] { client->MakeRequestAsync(destination, "second\n"); }).has_value());

  LoopbackTcpServer back(LoopbackTcpServer::Mode::kRead, port);
  client->MakeRequestAsync(destination, "third\n");
  ASSERT_TRUE(back.WaitFor(6));
  EXPECT_EQ(back.Received(), "third\n");
}

TEST_F(SyslogClientTest, UnreachablePortFailsWithReasonCommon) {
  std::string port;
  {
    LoopbackTcpServer closed;
    port = closed.Port();
  }
  auto client = Client(SyslogProtocol::Tcp);
  const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync({"127.0.0.1", port}, "x\n"); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->reason, 0u);
  EXPECT_EQ(failure->serverAddress, "127.0.0.1:" + port);
  EXPECT_GE(m_tracer->Count("Connect error: "), 1u);
}

TEST_F(SyslogClientTest, ServerThatNeverReadsFailsTheWriteAfterTheRequestTimeout) {
  LoopbackTcpServer server(LoopbackTcpServer::Mode::kNeverRead);
  auto client = Client(SyslogProtocol::Tcp, 300);
  const SyslogServer destination{"127.0.0.1", server.Port()};
  const std::string huge(64 << 20, 'x');  // far more than the socket buffers hold
  const auto failure = ConnectionFailureOf([&] { client->MakeRequestAsync(destination, huge); });
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->reason, 0u);
  EXPECT_GE(m_tracer->Count("send failed: Operation timeout"), 1u);
  EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError);
}

TEST_F(SyslogClientTest, UdpSendsOneDatagramPerMessageAndNeedsNoListener) {
  LoopbackUdpServer server;
  auto client = Client(SyslogProtocol::Udp);
  const SyslogServer destination{"127.0.0.1", server.Port()};
  for (const char* text : {"one", "two", "three"}) client->MakeRequestAsync(destination, text);
  EXPECT_EQ(server.Receive(), "one");
  EXPECT_EQ(server.Receive(), "two");
  EXPECT_EQ(server.Receive(), "three");

  std::string deadPort;
  {
    LoopbackUdpServer gone;
    deadPort = gone.Port();
  }
  EXPECT_NO_THROW(client->MakeRequestAsync({"127.0.0.1", deadPort}, "nobody"));
  EXPECT_NO_THROW(client->MakeRequestAsync({"::1", deadPort}, "nobody"));
}

TEST_F(SyslogClientTest, MessageTextReachesTheTraceOnlyWhenTheHostAllowsIt) {
  LoopbackTcpServer server;
  const auto policy = reference_host::SensitiveDataPolicy::Create(false);
  SyslogClientFactoryImpl factory{oru::RefPtr<oru::ITracer>(m_tracer.Get()), nullptr,
                                  base::SensitiveDataTracePolicy(oru::RefPtr<oru::ISensitiveDataPolicy>(policy.Get())),
                                  {}};
  SyslogClientSettings settings;
  settings.protocol = SyslogProtocol::Tcp;
  auto client = factory.CreateSyslogClient(settings);
  const SyslogServer destination{"127.0.0.1", server.Port()};

  client->MakeRequestAsync(destination, "user=alice\n");
  EXPECT_EQ(m_tracer->Count(" message: <sensitive data was hidden>"), 1u);
  EXPECT_EQ(m_tracer->Count("alice"), 0u);

  policy->SetAllowed(true);
  client->MakeRequestAsync(destination, "user=bob\n");
  EXPECT_EQ(m_tracer->Count(" message: user=bob"), 1u);
  ASSERT_TRUE(server.WaitFor(20));
  EXPECT_EQ(server.Received(), "user=alice\nuser=bob\n");
}

// Holds one send inside the client (while it makes its payload) until the
// test lets it go on.
class HoldingSuffix : public ISuffixSource {
 public:
  std::string GetSuffix() override {
    if (m_hold.exchange(false)) {
      m_entered.set_value();
      m_released.get_future().wait();
    }
    return {};
  }
  void HoldNext() { m_hold = true; }
  void WaitEntered() { m_entered.get_future().wait(); }
  void Release() { m_released.set_value(); }

 private:
  std::atomic<bool> m_hold{false};
  std::promise<void> m_entered;
  std::promise<void> m_released;
};

TEST_F(SyslogClientTest, SendRunningWhileAPassEndsLeavesNoConnectionOnTheDroppedPool) {
  LoopbackTcpServer server;
  auto suffix = std::make_shared<HoldingSuffix>();
  SyslogClientFactoryImpl factory{oru::RefPtr<oru::ITracer>(m_tracer.Get()), suffix, {}, {}};
  SyslogClientSettings settings;
  settings.protocol = SyslogProtocol::Tcp;
  auto client = factory.CreateSyslogClient(settings);
  const SyslogServer destination{"127.0.0.1", server.Port()};
  client->MakeRequestAsync(destination, "a\n");

  // The send is under way when the pass ends, and connects only after the
  // end of the pass has dropped the connections.
  suffix->HoldNext();
  std::thread sender([&] { client->MakeRequestAsync(destination, "b\n"); });
  suffix->WaitEntered();
  std::thread endOfPass([&] { EXPECT_EQ(client->WaitAndCloseConnections(), oru::rc::NoError); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the end of the pass waits for the send
  suffix->Release();
  sender.join();
  endOfPass.join();

  // The next pass runs on a new pool: the sender's connection went with the
  // old one.
  client->MakeRequestAsync(destination, "c\n");
  ASSERT_TRUE(server.WaitFor(6));
  EXPECT_EQ(server.Received(), "a\nb\nc\n");
  EXPECT_EQ(server.Accepted(), 3);
}

// Sends racing a close: a datagram queued behind one in flight when the
// close comes is not written, and must not be counted as sent.
TEST_F(SyslogClientTest, DatagramsCountedAsSentAreTheOnesThatArrive) {
  boost::asio::io_context io;
  boost::asio::ip::udp::socket receiver(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  receiver.non_blocking(true);
  const SyslogServer destination{"127.0.0.1", std::to_string(receiver.local_endpoint().port())};
  auto client = Client(SyslogProtocol::Udp);
  std::atomic<long> sent{0};
  long received = 0;
  const auto drain = [&] {
    char datagram[16];
    boost::system::error_code error;
    while (!error) {
      receiver.receive(boost::asio::buffer(datagram), 0, error);
      if (!error) ++received;
    }
  };
  for (int round = 0; round < 300; ++round) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
      threads.emplace_back([&] {
        while (!go) std::this_thread::yield();
        try {
          client->MakeRequestAsync(destination, "m");
          ++sent;
        } catch (const base::connection_exception&) {
        }
      });
    }
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      client->CloseConnections();
    });
    go = true;
    for (auto& thread : threads) thread.join();
    drain();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  drain();
  EXPECT_GT(sent.load(), 0);
  EXPECT_EQ(sent.load(), received);
}

TEST_F(SyslogClientTest, StructuredMessagesAndProtocols) {
  SyslogMessage message;
  message.facility = 1;
  message.severity = 6;
  message.msg = "m";
  EXPECT_EQ(message.ToRfc5424(), "<14>1 - - - - - - m\n");
  message.timestamp = 133'000'000'000'000'000 + 1'234'0000;  // 2022-06-18T04:26:40Z, and 1.234 s
  message.hostname = "host";
  EXPECT_EQ(message.ToRfc5424().substr(0, 36), "<14>1 2022-06-18T04:26:41.234Z host ");
  // Before 1970, at the first file time, and past the last four-digit year.
  const std::pair<std::uint64_t, const char*> times[] = {
      {1, "1601-01-01T00:00:00.000Z"},
      {116'444'736'000'000'000 - 10'000, "1969-12-31T23:59:59.999Z"},
      {94'405'824'000'000'000, "1900-03-01T00:00:00.000Z"},  // 1900 is no leap year
      {2'650'467'743'999'999'999, "9999-12-31T23:59:59.999Z"},
      {2'650'467'744'000'000'000, "-"},
      {~std::uint64_t{0}, "-"}};
  for (const auto& [fileTime, expected] : times) {
    message.timestamp = fileTime;
    EXPECT_EQ(message.ToRfc5424().substr(6, std::string_view(expected).size() + 1), std::string(expected) + " ");
  }

  EXPECT_EQ(Client(SyslogProtocol::Udp)->WaitAndCloseConnections(), oru::rc::NoError);
  SyslogClientSettings unknown;
  unknown.protocol = static_cast<SyslogProtocol>(7);
  EXPECT_THROW(m_factory.CreateSyslogClient(unknown), base::contract_exception);
}

}  // namespace
