#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/class_table.h"
#include "component/oru/i_task.h"
#include "component/oru/module_object_counter.h"
#include "component/platform/event.h"
#include "component/platform/thread.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_changed_event.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h"
#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"
#include "component_objects.h"
#include "host/client_certificate_decryptor.h"
#include "host/connection_sinks.h"
#include "host/data_folder_service.h"
#include "host/response_server.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "host/tracer.h"
#include "finishes_in_time.h"
#include "loopback_servers.h"
#include "temp_directory.h"
#include "test_certificates.h"

namespace {

using namespace std::chrono_literals;
using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::task;

constexpr std::uint64_t kConsumerId = 0x70001;
constexpr std::uint16_t kIntegrationId = 1;
constexpr std::uint32_t kDataFolder = 7;

std::vector<std::string> Lines(const std::string& received) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = received.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(received.substr(start, end - start));
  }
  return lines;
}

// The host's listener of consumer changes.
class ChangeListener final
    : public oru::BasicObject<ChangeListener, oru::UncountedObject, ISiemTelemetryConsumersChangedEvent> {
 public:
  explicit ChangeListener(std::function<void()> onChange) : m_onChange(std::move(onChange)) {}
  oru::Result OnConsumersChanged() noexcept override {
    m_onChange();
    return oru::rc::NoError;
  }

 private:
  const std::function<void()> m_onChange;
};

// A response server that keeps every handler it was given, as a host may.
class HoldingResponseServer final
    : public oru::BasicObject<HoldingResponseServer, oru::UncountedObject, oru::IResponseServerEventSubscription> {
 public:
  oru::Result Subscribe(oru::IResponseServerEventHandler* handler) noexcept override {
    handlers.emplace_back(handler);
    return oru::rc::NoError;
  }
  oru::Result Unsubscribe(oru::IResponseServerEventHandler*) noexcept override { return oru::rc::NoError; }
  oru::Result UnsubscribeAndWait(oru::IResponseServerEventHandler*) noexcept override { return oru::rc::NoError; }
  std::vector<oru::RefPtr<oru::IResponseServerEventHandler>> handlers;
};

// A host with every service, and the component's three objects made
// through the class table as a host makes them.
class EdrTelemetryTaskTest : public ::testing::Test {
 protected:
  EdrTelemetryTaskTest() {
    m_locator->Register(m_tracer);
    m_locator->Register(m_decryptor);
    m_locator->Register(reference_host::SyslogMessageSuffix::Create());
    m_locator->Register(m_dataFolders);
    m_locator->Register(m_responseServer);
    m_locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(m_sinks);
    m_dataFolders->SetFolder(kDataFolder, m_dir.Path());
    m_manager = CreateObject(oru::ClassTable::kSiemTelemetryConsumersManager, m_locator.Get());
    m_provider = Query<ISiemTelemetryConsumersProvider>(m_manager.Get());
    m_locator->Register(Query<ISiemTelemetryConsumersManager>(m_manager.Get()));
    m_locator->Register(Query<IEdrTelemetryClientServiceFactory>(
        CreateObject(oru::ClassTable::kEdrTelemetryClientServiceFactory, m_locator.Get()).Get()));
    m_task = CreateObject(oru::ClassTable::kEdrTelemetryTask, m_locator.Get());
    m_sinks->SetObserver([this](const reference_host::ConnectionSinks::Record&) { HostCode(kSink); });
    Query<ISiemTelemetryConsumersChangedEventSource>(m_manager.Get())->Subscribe(m_listener.Get());
  }
  ~EdrTelemetryTaskTest() override {
    m_sinks->SetObserver({});
    if (m_manager) Query<ISiemTelemetryConsumersChangedEventSource>(m_manager.Get())->Unsubscribe(m_listener.Get());
    m_task = nullptr;
    m_provider = nullptr;
    m_manager = nullptr;
    m_locator->Unregister(ISiemTelemetryConsumersManager::kIid);
    m_locator->Unregister(IEdrTelemetryClientServiceFactory::kIid);
    // Every object of the module is gone with the host's references.
    EXPECT_EQ(oru::ModuleObjectCounter::Count(), m_objectsBefore);
  }

  EdrTelemetryTaskSettings Settings() const {
    EdrTelemetryTaskSettings settings;
    settings.endpoints = {{"127.0.0.1", std::stoi(m_server.Port()), 0}};
    settings.consumerId = kConsumerId;
    settings.dataFolderId = kDataFolder;
    settings.maximumDataTransferTime = 1;
    settings.maximumNumberOfEventsInPackage = 5;
    settings.userDefinedEventTypes = {{u"Noise", false}};
    settings.includeRules = uR"({"inclusiveRules":[{"id":1},{"id":2,"enable":false}]})";
    return settings;
  }
  oru::ITask& Task() { return *Query<oru::ITask>(m_task.Get()); }
  IEdrTelemetryTaskSettings& TaskSettings() { return *Query<IEdrTelemetryTaskSettings>(m_task.Get()); }
  // The producer's side: defaults, then events of two types; the ones the
  // consumer does not drop are sent. Returns the texts sent.
  std::vector<std::string> Produce(int first, int last) {
    m_provider->SetAllEventTypesDefaultSettings({{u"Process", true}, {u"Noise", true}});
    std::vector<std::string> sent;
    for (int n = first; n <= last; ++n) {
      const std::string type = n % 2 ? "Process" : "Noise";
      const std::string text = "{\"eventType\":\"" + type + "\",\"n\":" + std::to_string(n) + "}";
      const std::u16string text16 = sendara::base::ToUtf16(text), type16 = sendara::base::ToUtf16(type);
      std::vector<Ioa> ioas;
      bool drop = true;
      EXPECT_EQ(m_provider->ShouldEventOrIoaBeDropped(kConsumerId, 1, type16.c_str(), text16.c_str(), ioas, &drop),
                oru::rc::NoError);
      if (!drop && oru::Succeeded(m_provider->SendEvent(kConsumerId, text16.c_str()))) sent.push_back(text);
    }
    return sent;
  }

  // Host code, a consumers-changed listener or a connection sink, that
  // reads the task from whatever thread calls it, once armed.
  enum HostCodeKind { kNone, kListener, kSink };
  void HostCode(HostCodeKind kind) {
    HostCodeKind armed = kind;
    if (!m_armed.compare_exchange_strong(armed, kNone)) return;
    m_inHostCode.Set();
    m_callBegun.Wait(platform::Event::kInfinite);
    // Long enough for the call to reach whatever it would wait for.
    std::this_thread::sleep_for(100ms);
    if (m_readsBack) m_readsBack();
  }
  // Runs `trigger` on a thread of its own; host code of `kind` that it
  // reaches waits until `call` has begun here, then reads the task back.
  // False unless both end.
  bool HostCodeCallsBackDuring(HostCodeKind kind, std::function<void()> trigger, std::function<void()> call) {
    m_inHostCode.Reset();
    m_callBegun.Reset();
    m_armed = kind;
    auto triggered = std::make_shared<std::promise<void>>();
    std::future<void> done = triggered->get_future();
    std::thread([trigger = std::move(trigger), triggered] {
      trigger();
      triggered->set_value();
    }).detach();
    if (m_inHostCode.Wait(10000) != platform::Event::kSignalled) return false;
    m_callBegun.Set();
    return FinishesInTime(std::move(call)) && done.wait_for(10s) == std::future_status::ready;
  }
  std::vector<std::uint64_t> Consumers() {
    std::vector<std::uint64_t> ids;
    EXPECT_EQ(m_provider->GetSiemTelemetryConsumers(ids), oru::rc::NoError);
    return ids;
  }

  const std::uint32_t m_objectsBefore = oru::ModuleObjectCounter::Count();
  TempDirectory m_dir;
  LoopbackTcpServer m_server;
  oru::RefPtr<reference_host::ConnectionSinks> m_sinks = reference_host::ConnectionSinks::Create();
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  oru::RefPtr<reference_host::ClientCertificateDecryptor> m_decryptor =
      reference_host::ClientCertificateDecryptor::Create();
  oru::RefPtr<reference_host::DataFolderService> m_dataFolders = reference_host::DataFolderService::Create();
  oru::RefPtr<reference_host::ResponseServer> m_responseServer = reference_host::ResponseServer::Create();
  oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  oru::RefPtr<oru::IObject> m_manager;
  oru::RefPtr<ISiemTelemetryConsumersProvider> m_provider;
  oru::RefPtr<oru::IObject> m_task;
  std::atomic<HostCodeKind> m_armed{kNone};
  platform::Event m_inHostCode{platform::Event::ResetMode::kManual};
  platform::Event m_callBegun{platform::Event::ResetMode::kManual};
  std::function<void()> m_readsBack = [this] {
    EdrTelemetryTaskSettings settings;
    TaskSettings().GetSettings(&settings);
  };
  oru::RefPtr<ChangeListener> m_listener = ChangeListener::Create([this] { HostCode(kListener); });
};

// A whole session: settings, start, events through the manager, stop.
TEST_F(EdrTelemetryTaskTest, EventsOfWantedTypesArrive) {
  ASSERT_EQ(TaskSettings().SetSettings(nullptr), oru::rc::InvalidArgument);
  ASSERT_EQ(TaskSettings().GetSettings(nullptr), oru::rc::InvalidArgument);
  EXPECT_EQ(Task().Pause(), oru::rc::NotSupported);
  const EdrTelemetryTaskSettings settings = Settings();
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  EXPECT_EQ(Consumers(), std::vector<std::uint64_t>{kConsumerId});
  std::u16string rules;
  ASSERT_EQ(m_provider->GetIncludeRules(kConsumerId, rules), oru::rc::NoError);
  EXPECT_EQ(rules, uR"({"inclusiveRules":[{"id":1}]})");

  const std::vector<std::string> sent = Produce(1, 20);
  ASSERT_EQ(sent.size(), 10u);
  std::size_t bytes = 0;
  for (const std::string& text : sent) bytes += text.size() + 1;
  ASSERT_TRUE(m_server.WaitFor(bytes)) << m_server.Received();
  EXPECT_EQ(Lines(m_server.Received()), sent);

  ASSERT_EQ(Task().Stop(), oru::rc::NoError);
  EXPECT_TRUE(Consumers().empty());
  ASSERT_EQ(Task().Stop(), oru::rc::NoError);
}

TEST_F(EdrTelemetryTaskTest, SettingsConversion) {
  auto publisher = std::make_shared<ConnectionCallbackEventPublisher>(oru::RefPtr<oru::ITracer>(m_tracer.Get()),
                                                                      m_locator.Get());
  auto convert = [&](const EdrTelemetryTaskSettings& settings) {
    return EdrTelemetryTask::ConvertSettings(m_tracer.Get(), m_locator.Get(), *publisher, settings);
  };
  EdrTelemetryTaskSettings settings = Settings();
  settings.endpoints = {{"siem", 514, 7}, {"::1", 6514, 1}, {"http://siem", 80, 4}, {"::1", 8088, 2, "/ingest"}};
  settings.maximumDataTransferTime = 30;
  settings.tunnelPresent = true;
  settings.tunnelAddress = "::1";
  settings.tunnelPort = 3128;
  EdrTelemetryClientSettings converted = convert(settings);
  ASSERT_EQ(converted.endpoints.size(), 4u);
  EXPECT_EQ(converted.endpoints[0].protocol, EdrTelemetryProtocol::HTTP);
  EXPECT_EQ(converted.endpoints[0].endpoint, "siem:514");
  EXPECT_EQ(converted.endpoints[1].endpoint, "[::1]:6514");
  EXPECT_EQ(converted.endpoints[2].endpoint, "http://siem:80");
  EXPECT_EQ(converted.endpoints[3].endpoint, "[::1]:8088/ingest");
  EXPECT_EQ(converted.tunnel, "[::1]:3128");
  EXPECT_EQ(converted.telemetryTransferSettings.maximumDataTransferTime, 30000u);
  EXPECT_EQ(converted.persistentDataPath, m_dir.Path().u16string());

  settings.maximumDataTransferTime = 0xFFFFFFFF;
  EXPECT_EQ(convert(settings).telemetryTransferSettings.maximumDataTransferTime, 0xFFFFFFFEu);

  // Refused: each alone.
  for (auto change : std::vector<void (*)(EdrTelemetryTaskSettings&)>{
           [](EdrTelemetryTaskSettings& s) { s.gzipCompressionLevel = 6; },
           [](EdrTelemetryTaskSettings& s) { s.tunnelAddress = "proxy.example"; },
           [](EdrTelemetryTaskSettings& s) { s.endpoints[0].port = 70000; },
           [](EdrTelemetryTaskSettings& s) { s.dataFolderId = 99; },
       }) {
    EdrTelemetryTaskSettings refused = settings;
    change(refused);
    EXPECT_ANY_THROW(convert(refused));
  }
  settings = Settings();
  settings.consumerId = 0x10000;
  try {
    EdrTelemetryTask::ValidateSettings(settings);
    ADD_FAILURE() << "a consumer id without an integration id passed";
  } catch (const oru::Exception& e) {
    EXPECT_NE(e.ToString().find("integration id (part consumer id) should be non zero"), std::string::npos);
    EXPECT_EQ(e.Code(), oru::rc::InvalidArgument);
  }
}

// A path is for HTTP endpoints only, and only one that a request line and a
// trace can carry; refused, it changes nothing.
TEST_F(EdrTelemetryTaskTest, WrongEndpointPathsAreRefused) {
  EdrTelemetryTaskSettings settings = Settings();
  settings.endpoints = {{"collector", 8080, 4, "/ingest?channel=x"}};
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  const struct {
    std::uint32_t protocol;
    std::string path;
    std::string reason;
  } refusals[] = {
      {0, "/ingest", "a syslog endpoint takes no path"},
      {1, "/ingest", "a syslog endpoint takes no path"},
      {3, "/ingest", "a syslog endpoint takes no path"},
      {2, "ingest", "wrong endpoint path"},
      {4, "/in gest", "wrong endpoint path"},
      {4, "/ingest\r\nX-Injected: 1", "wrong endpoint path"},
      {4, "/ingest#part", "wrong endpoint path"},
      {4, "/\x7F", "wrong endpoint path"},
      {4, "/caf\xC3\xA9", "wrong endpoint path"},
  };
  for (const auto& [protocol, path, reason] : refusals) {
    SCOPED_TRACE(std::to_string(protocol) + " " + path);
    EdrTelemetryTaskSettings refused = settings;
    refused.endpoints[0].protocol = protocol;
    refused.endpoints[0].path = path;
    refused.maximumNumberOfEventsInPackage = 1;
    const std::size_t before = m_tracer->Count(reason + ". At ");
    EXPECT_EQ(TaskSettings().SetSettings(&refused), oru::rc::InvalidArgument);
    EXPECT_EQ(m_tracer->Count(reason + ". At "), before + 1);
    EdrTelemetryTaskSettings current;
    ASSERT_EQ(TaskSettings().GetSettings(&current), oru::rc::NoError);
    ASSERT_EQ(current.endpoints.size(), 1u);
    EXPECT_EQ(current.endpoints[0].protocol, 4u);
    EXPECT_EQ(current.endpoints[0].path, "/ingest?channel=x");
    EXPECT_EQ(current.maximumNumberOfEventsInPackage, 5);
  }
  // The endpoint is named by host and port: the refused bytes stay out.
  EXPECT_EQ(m_tracer->Count("endpoint = collector:8080"), std::size(refusals));
}

// Refused settings change nothing on a running task, and a start that fails
// half-way leaves nothing behind: the next one runs in full.
TEST_F(EdrTelemetryTaskTest, RefusedSettingsAndFailedStartsLeaveNothingBehind) {
  EdrTelemetryTaskSettings settings = Settings();
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  const auto manager = Query<ISiemTelemetryConsumersManager>(m_manager.Get());
  m_locator->Unregister(ISiemTelemetryConsumersManager::kIid);
  EXPECT_NE(Task().Start(), oru::rc::NoError);
  m_locator->Register(manager);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);

  for (auto change : std::vector<void (*)(EdrTelemetryTaskSettings&)>{
           [](EdrTelemetryTaskSettings& s) { s.gzipCompressionLevel = 6; },
           [](EdrTelemetryTaskSettings& s) {
             s.tunnelPresent = true;
             s.tunnelAddress = "proxy.example";
           },
           [](EdrTelemetryTaskSettings& s) { s.includeRules = u"{\"inclusiveRules\":"; },
       }) {
    EdrTelemetryTaskSettings refused = Settings();
    refused.maximumNumberOfEventsInPackage = 1;
    change(refused);
    EXPECT_NE(TaskSettings().SetSettings(&refused), oru::rc::NoError);
  }
  EXPECT_EQ(m_tracer->Count("EdrTelemetryClient::SetSettings] call"), 0u);
  EdrTelemetryTaskSettings current;
  ASSERT_EQ(TaskSettings().GetSettings(&current), oru::rc::NoError);
  EXPECT_EQ(current.maximumNumberOfEventsInPackage, 5);
  std::u16string rules;
  ASSERT_EQ(m_provider->GetIncludeRules(kConsumerId, rules), oru::rc::NoError);
  EXPECT_EQ(rules, uR"({"inclusiveRules":[{"id":1}]})");

  const std::vector<std::string> sent = Produce(1, 10);
  std::size_t bytes = 0;
  for (const std::string& text : sent) bytes += text.size() + 1;
  ASSERT_TRUE(m_server.WaitFor(bytes));
  EXPECT_EQ(Lines(m_server.Received()), sent);
}

// The delayed start registers on the first event of the integration and
// starts on "started"; a stop racing it leaves nothing registered.
TEST_F(EdrTelemetryTaskTest, DelayedStart) {
  EdrTelemetryTaskSettings settings = Settings();
  settings.startAfterResponseServer = true;
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  m_responseServer->SetStarted(kIntegrationId + 1, true);
  EXPECT_TRUE(Consumers().empty());
  m_responseServer->SetStarted(kIntegrationId, false);
  EXPECT_EQ(Consumers(), std::vector<std::uint64_t>{kConsumerId});
  EXPECT_EQ(m_tracer->Count("response server started"), 0u);
  m_responseServer->SetStarted(kIntegrationId, true);
  EXPECT_EQ(m_tracer->Count("response server started"), 1u);
  ASSERT_EQ(Task().Stop(), oru::rc::NoError);

  std::atomic<bool> done{false};
  std::thread server([&] {
    for (bool started = false; !done; started = !started) m_responseServer->SetStarted(kIntegrationId, started);
  });
  for (int round = 0; round < 1000; ++round) {
    ASSERT_EQ(Task().Start(), oru::rc::NoError);
    ASSERT_EQ(Task().Stop(), oru::rc::NoError);
    ASSERT_TRUE(Consumers().empty()) << "round " << round;
  }
  done = true;
  server.join();
}

// Host threads push events while the task stops: every event the manager
// took is delivered, now or by the next start from the spool.
TEST_F(EdrTelemetryTaskTest, StopWhileEventsArriveLosesNothing) {
  EdrTelemetryTaskSettings settings = Settings();
  settings.userDefinedEventTypes.clear();
  // Tens of thousands of events arrive in 50 ms: large packages keep the
  // delivery of the spool short on a slow machine.
  settings.maximumNumberOfEventsInPackage = 1000;
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  m_provider->SetAllEventTypesDefaultSettings({{u"Process", true}});
  std::atomic<bool> stop{false};
  std::vector<std::string> accepted[2];
  std::vector<std::thread> producers;
  for (int t = 0; t < 2; ++t) {
    producers.emplace_back([&, t] {
      for (int n = 0; !stop; ++n) {
        const std::string text = "{\"t\":" + std::to_string(t) + ",\"n\":" + std::to_string(n) + "}";
        if (oru::Succeeded(m_provider->SendEvent(kConsumerId, sendara::base::ToUtf16(text).c_str()))) {
          accepted[t].push_back(text);
        }
      }
    });
  }
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(Task().Stop(), oru::rc::NoError);
  stop = true;
  for (std::thread& producer : producers) producer.join();

  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  std::set<std::string> expected(accepted[0].begin(), accepted[0].end());
  expected.insert(accepted[1].begin(), accepted[1].end());
  std::size_t bytes = 0;
  for (const std::string& text : expected) bytes += text.size() + 1;
  ASSERT_TRUE(m_server.WaitFor(bytes, 30s)) << expected.size() << " events accepted";
  const std::vector<std::string> lines = Lines(m_server.Received());
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}

// Released while started, without a stop: the consumer leaves the manager
// and the client stops (the fixture checks that no object is left).
TEST_F(EdrTelemetryTaskTest, ReleasedWithoutStop) {
  const EdrTelemetryTaskSettings settings = Settings();
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  m_task = nullptr;
  EXPECT_TRUE(Consumers().empty());
}

// Host code that reads the task back while another thread stops it or
// changes its settings: a listener told of the delayed start's registration,
// a connection sink on a sending thread while the client restarts, a
// listener told of the producer's new defaults while the task's own types
// change.
TEST_F(EdrTelemetryTaskTest, HostCodeThatCallsBackNeverDeadlocksAStopOrASettingsChange) {
  EdrTelemetryTaskSettings settings = Settings();
  settings.startAfterResponseServer = true;
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  ASSERT_TRUE(HostCodeCallsBackDuring(
      kListener, [this] { m_responseServer->SetStarted(kIntegrationId, true); }, [this] { Task().Stop(); }));
  EXPECT_TRUE(Consumers().empty());

  settings = Settings();
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  EdrTelemetryTaskSettings moved = settings;
  moved.endpoints[0].host = "localhost";
  ASSERT_TRUE(HostCodeCallsBackDuring(
      kSink, [this] { Produce(1, 1); }, [&] { EXPECT_EQ(TaskSettings().SetSettings(&moved), oru::rc::NoError); }));

  EdrTelemetryTaskSettings retyped = moved;
  retyped.userDefinedEventTypes = {{u"Process", false}};
  ASSERT_TRUE(HostCodeCallsBackDuring(
      kListener, [this] { m_provider->SetAllEventTypesDefaultSettings({{u"Process", true}, {u"Other", true}}); },
      [&] { EXPECT_EQ(TaskSettings().SetSettings(&retyped), oru::rc::NoError); }));
  ASSERT_EQ(Task().Stop(), oru::rc::NoError);
}

// Once Stop has returned no client of the task runs, even while the host
// still holds the delayed start's handler and calls it again.
TEST_F(EdrTelemetryTaskTest, NothingRunsOnceStopHasReturned) {
  const auto holding = HoldingResponseServer::Create();
  m_locator->Register(oru::RefPtr<oru::IResponseServerEventSubscription>(holding.Get()));
  EdrTelemetryTaskSettings settings = Settings();
  settings.startAfterResponseServer = true;
  ASSERT_EQ(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Task().Start(), oru::rc::NoError);
  ASSERT_EQ(holding->handlers.size(), 1u);
  holding->handlers[0]->OnConnectionEvent(kIntegrationId, true);
  EXPECT_GT(platform::Thread::LiveCount(), 0u);
  ASSERT_EQ(Task().Stop(), oru::rc::NoError);
  EXPECT_EQ(platform::Thread::LiveCount(), 0u);
  holding->handlers[0]->OnConnectionEvent(kIntegrationId, true);
  EXPECT_EQ(platform::Thread::LiveCount(), 0u);
  EXPECT_TRUE(Consumers().empty());
  holding->handlers.clear();
}

// A client certificate whose password does not open it is refused, and the
// host hears of it. That no password or key reaches a trace is
// HostProgramTest.NoSecretInTheTraceOfAWholeRun's, over this task.
TEST_F(EdrTelemetryTaskTest, WrongCertificatePasswordIsRefusedAndTheHostHearsOfIt) {
  EdrTelemetryTaskSettings settings = Settings();
  settings.endpoints = {{"127.0.0.1", std::stoi(m_server.Port()), 1}};
  settings.clientCertificatePresent = true;
  settings.clientCertificate = TestCertificates::Get().clientPkcs12;
  settings.encryptedCertificatePassword = {'x'};
  EXPECT_NE(TaskSettings().SetSettings(&settings), oru::rc::NoError);
  EXPECT_EQ(m_tracer->Count("Can't decrypt client certificate:"), 1u);
  ASSERT_EQ(m_sinks->Records().size(), 1u);
  EXPECT_EQ(m_sinks->Records()[0].reason, 1u);
}

}  // namespace
