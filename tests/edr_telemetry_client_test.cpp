#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/class_table.h"
#include "component/oru/result_code.h"
#include "component/platform/event.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/create_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"
#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"
#include "host/client_certificate_decryptor.h"
#include "host/connection_sinks.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "host/tracer.h"
#include "loopback_servers.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;
using namespace sendara::edr_telemetry;

// A port nothing listens on (for a while, at least).
unsigned short FreePort() {
  LoopbackTcpServer server;
  return static_cast<unsigned short>(std::stoi(server.Port()));
}

std::string EventText(int n) { return "{\"n\":" + std::to_string(n) + "}"; }

std::vector<std::string> EventTexts(int first, int last) {
  std::vector<std::string> texts;
  for (int n = first; n <= last; ++n) texts.push_back(EventText(n));
  return texts;
}

// The events a TCP receiver got, one per line.
std::vector<std::string> Lines(const std::string& received) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = received.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(received.substr(start, end - start));
  }
  return lines;
}

std::size_t Bytes(const std::vector<std::string>& events) {
  std::size_t size = 0;
  for (const std::string& event : events) size += event.size() + 1;
  return size;
}

std::size_t PartitionFiles(const std::filesystem::path& dataPath) {
  std::size_t count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dataPath / "queues", error)) {
    if (entry.path().extension() == ".db") ++count;
  }
  return count;
}

// The module's threads of this process, by the names it gives them.
std::size_t ModuleThreads() {
  std::size_t count = 0;
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(tasks)) {
      std::string name;
      std::getline(std::ifstream("/proc/self/task/" + std::string(entry->d_name) + "/comm"), name);
      if (name == "EdrTelemetry" || name == "Sendara") ++count;
    }
    ::closedir(tasks);
  }
  return count;
}

class EdrTelemetryClientTest : public ::testing::Test {
 protected:
  EdrTelemetryClientTest() {
    m_locator->Register(m_tracer);
    m_locator->Register(m_decryptor);
    m_locator->Register(m_suffix);
  }

  EdrTelemetryClientSettings Settings(const std::vector<EdrTelemetryEndpoint>& endpoints) {
    EdrTelemetryClientSettings settings;
    settings.endpoints = endpoints;
    settings.persistentDataPath = m_dir.Path().u16string();
    settings.telemetryTransferSettings.maximumDataTransferTime = 200;
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 10;
    settings.timeoutConnection = 2000;
    settings.timeoutRequest = 2000;
    return settings;
  }
  static EdrTelemetryEndpoint Tcp(unsigned short port) {
    return {EdrTelemetryProtocol::TCP, "127.0.0.1:" + std::to_string(port)};
  }
  static EdrTelemetryEndpoint Tcp(const LoopbackTcpServer& server) {
    return {EdrTelemetryProtocol::TCP, "127.0.0.1:" + server.Port()};
  }

  oru::RefPtr<IEdrTelemetryClient> Client(const EdrTelemetryClientSettings& settings) {
    return CreateEdrTelemetryClient(settings, m_locator.Get(), nullptr);
  }
  static void Send(IEdrTelemetryClient& client, int first, int last) {
    for (int n = first; n <= last; ++n) {
      ASSERT_EQ(client.SendTelemetry(sendara::base::ToUtf16(EventText(n))), oru::rc::NoError);
    }
  }
  // Releases the client (which stops it) and returns how long that took.
  static std::chrono::milliseconds Release(oru::RefPtr<IEdrTelemetryClient>& client) {
    const auto start = std::chrono::steady_clock::now();
    client = nullptr;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  }

  TempDirectory m_dir;
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  oru::RefPtr<reference_host::ClientCertificateDecryptor> m_decryptor =
      reference_host::ClientCertificateDecryptor::Create();
  oru::RefPtr<reference_host::SyslogMessageSuffix> m_suffix = reference_host::SyslogMessageSuffix::Create();
  oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
};

// A full package goes out at once, without waiting for the sending period.
TEST_F(EdrTelemetryClientTest, EventsArriveInOrderAsSoonAsAPackageIsFull) {
  LoopbackTcpServer server;
  auto settings = Settings({Tcp(server)});
  settings.telemetryTransferSettings.maximumDataTransferTime = 60000;
  auto client = Client(settings);
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  EXPECT_EQ(m_tracer->Count("already started"), 1u);
  // The first pass found nothing to send; the next is a minute away.
  ASSERT_TRUE(m_tracer->WaitFor("Process again after sleep for 60000", 5s));

  Send(*client, 1, 30);

  ASSERT_TRUE(server.WaitFor(Bytes(EventTexts(1, 30)), 10s)) << server.Received();
  EXPECT_EQ(Lines(server.Received()), EventTexts(1, 30));
}

// During an outage events wait in the spool; when the receiver is back the
// backlog goes first, oldest first, and nothing is lost or repeated.
TEST_F(EdrTelemetryClientTest, OutageSpoolsAndTheBacklogGoesFirst) {
  const unsigned short port = FreePort();
  auto client = Client(Settings({Tcp(port)}));
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  Send(*client, 1, 25);
  ASSERT_TRUE(m_tracer->WaitFor("not available endpoints", 5s));
  for (auto deadline = std::chrono::steady_clock::now() + 5s;
       PartitionFiles(m_dir.Path()) == 0 && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_GT(PartitionFiles(m_dir.Path()), 0u);

  LoopbackTcpServer server(LoopbackTcpServer::Mode::kRead, port);
  Send(*client, 26, 30);

  ASSERT_TRUE(server.WaitFor(Bytes(EventTexts(1, 30)), 10s)) << server.Received();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Lines(server.Received()), EventTexts(1, 30));
}

// What is queued when the client goes is stored, and the next client on the
// same data folder sends it.
TEST_F(EdrTelemetryClientTest, QueueOutlivesTheClient) {
  const unsigned short port = FreePort();
  auto settings = Settings({Tcp(port)});
  settings.telemetryTransferSettings.maximumDataTransferTime = 60000;
  settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 100;
  auto client = Client(settings);
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  // Nothing was there to send: the events wait in the queue for the next pass.
  ASSERT_TRUE(m_tracer->WaitFor("Process again after sleep for 60000", 5s));
  Send(*client, 1, 15);
  EXPECT_LT(Release(client), 2s);

  LoopbackTcpServer server(LoopbackTcpServer::Mode::kRead, port);
  auto next = Client(Settings({Tcp(port)}));
  ASSERT_EQ(next->Start(), oru::rc::NoError);
  ASSERT_TRUE(server.WaitFor(Bytes(EventTexts(1, 15)), 10s)) << server.Received();
  EXPECT_EQ(Lines(server.Received()), EventTexts(1, 15));
}

// A stop returns at once from the wait after a failed cycle, and from a TLS
// handshake the server never answers, without waiting out the time-outs.
TEST_F(EdrTelemetryClientTest, StopsPromptly) {
  auto settings = Settings({Tcp(FreePort())});
  settings.telemetryTransferSettings.maximumDataTransferTime = 60000;
  auto client = Client(settings);
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  Send(*client, 1, 10);
  ASSERT_TRUE(m_tracer->WaitFor("try reconnecting after timeout = 60000ms", 5s));
  EXPECT_LT(Release(client), 2s);

  LoopbackTcpServer silent(LoopbackTcpServer::Mode::kNeverRead);
  settings = Settings({{EdrTelemetryProtocol::TCP_TLS, "127.0.0.1:" + silent.Port()}});
  settings.timeoutConnection = 30000;
  client = Client(settings);
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  Send(*client, 1, 10);
  for (auto deadline = std::chrono::steady_clock::now() + 5s;
       silent.Accepted() == 0 && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(silent.Accepted(), 1);
  EXPECT_LT(Release(client), 3s);
}

TEST_F(EdrTelemetryClientTest, OnlyConnectionSettingsRestart) {
  LoopbackTcpServer first, second;
  auto settings = Settings({Tcp(first)});
  auto client = Client(settings);
  ASSERT_EQ(client->Start(), oru::rc::NoError);

  settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 3;
  settings.persistentTelemetryPartCount = 7;
  ASSERT_EQ(client->SetSettings(settings), oru::rc::NoError);
  EXPECT_EQ(m_tracer->Count("wait worker..."), 0u);
  EXPECT_EQ(m_tracer->Count("they apply at the next start"), 1u);
  Send(*client, 1, 3);
  ASSERT_TRUE(first.WaitFor(Bytes(EventTexts(1, 3))));

  // Refused settings change nothing.
  auto refused = settings;
  refused.gzipCompressionLevel = 7;
  EXPECT_EQ(client->SetSettings(refused), oru::rc::InvalidArgument);

  settings.endpoints = {Tcp(second), Tcp(first)};
  ASSERT_EQ(client->SetSettings(settings), oru::rc::NoError);
  EXPECT_EQ(m_tracer->Count("wait worker..."), 1u);
  Send(*client, 4, 6);
  ASSERT_TRUE(second.WaitFor(Bytes(EventTexts(4, 6)))) << second.Received();
  EXPECT_EQ(Lines(second.Received()), EventTexts(4, 6));
}

// Restarts while a host thread sends: no deadlock, every event arrives.
TEST_F(EdrTelemetryClientTest, RestartsWhileEventsFlowLoseNothing) {
  LoopbackTcpServer server;
  auto client = Client(Settings({Tcp(server)}));
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  constexpr int kEvents = 3000;
  std::thread sender([&] {
    for (int n = 1; n <= kEvents; ++n) {
      Send(*client, n, n);
      if (n % 50 == 0) std::this_thread::sleep_for(1ms);
    }
  });
  for (int i = 0; i < 50; ++i) ASSERT_EQ(client->Restart(), oru::rc::NoError);
  sender.join();

  const std::vector<std::string> all = EventTexts(1, kEvents);
  ASSERT_TRUE(server.WaitFor(Bytes(all), 20s));
  const std::vector<std::string> lines = Lines(server.Received());
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), std::set<std::string>(all.begin(), all.end()));
}

// Partitions of 4096 MiB and more hold many inserts, and a data folder that
// does not exist yet is made.
TEST_F(EdrTelemetryClientTest, LargePartitionsInAMissingFolder) {
  auto settings = Settings({Tcp(FreePort())});
  settings.persistentDataPath = (m_dir.Path() / "not" / "yet").u16string();
  settings.persistentTelemetryPartSize = 4096;
  auto client = Client(settings);
  ASSERT_TRUE(client);
  // A folder that is not there yet is a warning, not a failed trace line.
  const auto listed = m_tracer->LinesContaining("persistent storage content can't be listed");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].level, 500);
  EXPECT_EQ(m_tracer->Count("exception on trace"), 0u);
  // Never started: each release moves the queue into storage.
  for (int i = 0; i < 3; ++i) {
    Send(*client, 10 * i + 1, 10 * i + 5);
    Release(client);
    client = Client(settings);
  }
  EXPECT_EQ(PartitionFiles(m_dir.Path() / "not" / "yet"), 1u);

  auto empty = settings;
  empty.persistentDataPath.clear();
  EXPECT_THROW(Client(empty), sendara::base::contract_exception);
}

// The host hears of a refused endpoint and of the one that took the events,
// once per handshake; a sink that calls the client back from the sending
// thread does not deadlock it, and a stop raises no connection error.
TEST_F(EdrTelemetryClientTest, ConnectionEventsReachTheHost) {
  using Kind = reference_host::ConnectionSinks::Kind;
  auto sinks = reference_host::ConnectionSinks::Create();
  m_locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(sinks);
  auto forwarder = std::make_shared<task::ConnectionEventForwarder>(oru::RefPtr<oru::ITracer>(m_tracer.Get()));
  forwarder->SetPublisher(std::make_shared<task::ConnectionCallbackEventPublisher>(
      oru::RefPtr<oru::ITracer>(m_tracer.Get()), m_locator.Get()));
  forwarder->SetTunnel("10.0.0.1:3128");

  LoopbackTcpServer server;
  const unsigned short refused = FreePort();
  auto settings = Settings({Tcp(refused), Tcp(server)});
  auto client = CreateEdrTelemetryClient(settings, m_locator.Get(), forwarder);
  std::atomic<int> restarts{0};
  sinks->SetObserver([&](const reference_host::ConnectionSinks::Record& record) {
    if (record.kind == Kind::kConnected && restarts++ == 0) {
      EXPECT_EQ(client->Restart(), oru::rc::NoError);
    }
  });
  ASSERT_EQ(client->Start(), oru::rc::NoError);

  Send(*client, 1, 10);
  ASSERT_TRUE(sinks->WaitFor(2, 5s));
  // After the restart the handshake runs again: one more pair of events.
  ASSERT_TRUE(m_tracer->WaitFor("worker finished", 5s));
  Send(*client, 11, 20);
  ASSERT_TRUE(sinks->WaitFor(4, 5s));
  ASSERT_TRUE(server.WaitFor(Bytes(EventTexts(1, 20))));
  EXPECT_EQ(Lines(server.Received()), EventTexts(1, 20));
  client = nullptr;

  const auto records = sinks->Records();
  ASSERT_EQ(records.size(), 4u);
  for (int i : {0, 2}) {
    EXPECT_EQ(records[i].kind, Kind::kConnectionError);
    EXPECT_EQ(records[i].reason, 0u);
    EXPECT_EQ(records[i].serverAddress, "127.0.0.1:" + std::to_string(refused));
    EXPECT_EQ(records[i + 1].kind, Kind::kConnected);
    EXPECT_EQ(records[i + 1].serverAddress, "127.0.0.1:" + server.Port());
    EXPECT_EQ(records[i + 1].tunnel, "10.0.0.1:3128");
  }
}

// A sink lets the client's last reference go on the client's own sending
// thread, where its worker cannot be waited for and goes on by itself: the
// module says it can be unloaded only once every thread of it has ended,
// and traces nothing after that.
TEST_F(EdrTelemetryClientTest, CanUnloadOnlyOnceEveryThreadHasLeft) {
  auto sinks = reference_host::ConnectionSinks::Create();
  m_locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(sinks);
  auto forwarder = std::make_shared<task::ConnectionEventForwarder>(oru::RefPtr<oru::ITracer>(m_tracer.Get()));
  forwarder->SetPublisher(std::make_shared<task::ConnectionCallbackEventPublisher>(
      oru::RefPtr<oru::ITracer>(m_tracer.Get()), m_locator.Get()));
  LoopbackTcpServer server;
  auto client = CreateEdrTelemetryClient(Settings({Tcp(server)}), m_locator.Get(), forwarder);
  platform::Event released(platform::Event::ResetMode::kManual);
  sinks->SetObserver([&](const reference_host::ConnectionSinks::Record&) {
    if (!client) return;
    client = nullptr;
    released.Set();
    // The sending thread stays in module code a while longer.
    std::this_thread::sleep_for(50ms);
  });
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  Send(*client, 1, 1);
  ASSERT_EQ(released.Wait(10000), platform::Event::kSignalled);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (oru::ClassTable::CanUnloadModule() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(oru::ClassTable::CanUnloadModule(), 0);
  const std::size_t lines = m_tracer->Lines().size();
  EXPECT_EQ(ModuleThreads(), 0u);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(m_tracer->Lines().size(), lines);
  sinks->SetObserver({});
}

TEST_F(EdrTelemetryClientTest, DropDecisions) {
  auto settings = Settings({Tcp(FreePort())});
  settings.excludedEventTypes = std::vector<std::u16string>{u"noise"};
  settings.excludeRules = {};
  auto client = Client(settings);
  bool drop = false;
  EXPECT_EQ(client->ShouldDropEvent(1, u"noise", &drop), oru::rc::NoError);
  EXPECT_TRUE(drop);
  EXPECT_EQ(client->ShouldDropEvent(1, u"process", &drop), oru::rc::NoError);
  EXPECT_FALSE(drop);
  EXPECT_EQ(client->ShouldDropEvent(1, u"process", nullptr), oru::rc::InvalidArgument);

  std::vector<Ioa> ioas;
  EXPECT_EQ(client->ShouldDropEventOrIoa(0, u"process", u"{\"a\":1}", ioas, &drop), oru::rc::NoError);
  EXPECT_FALSE(drop);
  EXPECT_EQ(client->ShouldDropEventOrIoa(0, u"process", u"{\"a\":", ioas, &drop), oru::rc::SyntaxError);
  EXPECT_EQ(client->ShouldDropEventOrIoa(0, u"process", u"{}", ioas, nullptr), oru::rc::InvalidArgument);
}

// A kept event is handed over with the text its decision converted, when
// it is the very text decided on; the field rules are those of the hand-over
// whatever they were at the decision.
TEST_F(EdrTelemetryClientTest, HandOverTakesTheDecisionsTextOnlyForTheSameText) {
  LoopbackTcpServer server;
  auto settings = Settings({Tcp(server)});
  settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 1;
  settings.excludedEventTypes = std::vector<std::u16string>{u"noise"};
  auto client = Client(settings);
  ASSERT_EQ(client->Start(), oru::rc::NoError);
  const auto& concrete = static_cast<const EdrTelemetryClient&>(*client);
  std::vector<Ioa> ioas;
  const auto decideAndHandOver = [&](std::u16string_view decided, std::u16string_view handed) {
    bool drop = true;
    ASSERT_EQ(client->ShouldDropEventOrIoa(0, u"process", decided, ioas, &drop), oru::rc::NoError);
    ASSERT_FALSE(drop);
    ASSERT_EQ(client->SendTelemetry(handed), oru::rc::NoError);
  };

  std::u16string buffer = u"{\"a\":\"\u00e91\",\"b\":1}";
  decideAndHandOver(buffer, buffer);
  EXPECT_EQ(concrete.DecidedTextsReused(), 1u);
  // The host put the next event into the buffer it decided on.
  std::u16string rewritten = buffer;
  rewritten[rewritten.find(u'1')] = u'2';
  {
    bool drop = true;
    ASSERT_EQ(client->ShouldDropEventOrIoa(0, u"process", buffer, ioas, &drop), oru::rc::NoError);
    std::copy(rewritten.begin(), rewritten.end(), buffer.begin());
    ASSERT_EQ(client->SendTelemetry(buffer), oru::rc::NoError);
  }
  EXPECT_EQ(concrete.DecidedTextsReused(), 1u);

  // Field rules set between the decision and the hand-over apply.
  {
    bool drop = true;
    ASSERT_EQ(client->ShouldDropEventOrIoa(0, u"process", buffer, ioas, &drop), oru::rc::NoError);
    settings.allowedEventFields = std::vector<std::string>{"a"};
    ASSERT_EQ(client->SetSettings(settings), oru::rc::NoError);
    ASSERT_EQ(client->SendTelemetry(buffer), oru::rc::NoError);
  }
  EXPECT_EQ(concrete.DecidedTextsReused(), 2u);
  decideAndHandOver(u"{\"a\":\"x\",\"b\":3}", u"{\"a\":\"y\",\"b\":3}");
  EXPECT_EQ(concrete.DecidedTextsReused(), 2u);

  const std::vector<std::string> expected = {sendara::base::ToUtf8(u"{\"a\":\"\u00e91\",\"b\":1}"),
                                             sendara::base::ToUtf8(u"{\"a\":\"\u00e92\",\"b\":1}"),
                                             sendara::base::ToUtf8(u"{\"a\":\"\u00e92\"}"), "{\"a\":\"y\"}"};
  ASSERT_TRUE(server.WaitFor(Bytes(expected), 10s)) << server.Received();
  EXPECT_EQ(Lines(server.Received()), expected);
}

}  // namespace
