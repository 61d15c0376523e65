#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/bad_request_exception.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_client_factory.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_handler_impl.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_queue_impl.h"
#include "host/tracer.h"
#include "temp_directory.h"

namespace {

using namespace sendara;
using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::telemetry;
using base::storages::PartitionedValueStorage;

// A sender that follows a script, call by call: how many events of the
// batch it hands over, and what it throws afterwards. Beyond the script it
// hands over everything.
class ScriptedSender : public IRequestSender {
 public:
  struct Step {
    std::size_t count = static_cast<std::size_t>(-1);
    std::function<void()> thenThrow;
  };

  void Send(Batch batch, std::uint64_t& sentCount, const base::StopToken&) override {
    const Step step = m_calls < script.size() ? script[m_calls] : Step{};
    ++m_calls;
    const std::size_t n = std::min(step.count, batch.size());
    packageSizes.push_back(batch.size());
    for (std::size_t i = 0; i < n; ++i) sent.emplace_back(batch[i]);
    sentCount += n;
    if (step.thenThrow) step.thenThrow();
  }
  void WaitAndCloseConnections() override { ++closes; }

  std::vector<Step> script;
  std::vector<std::string> sent;
  std::vector<std::size_t> packageSizes;
  int closes = 0;

 private:
  std::size_t m_calls = 0;
};

template <class E>
std::function<void()> Throws() {
  return [] { throw E(oru::rc::Unexpected, "scripted failure", __FILE__, __LINE__); };
}

class TelemetryClientTest : public ::testing::Test {
 protected:
  TelemetryClientTest() {
    EdrTelemetryClientSettings settings;
    settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:514"});
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 3;
    settings.telemetryTransferSettings.maxPacketsInFallbackSendIteration = 10;
    m_provider = std::make_shared<EdrTelemetryClientSettingsProvider>(Tracer(), settings);
    m_handler = std::make_shared<TelemetryHandlerImpl>(Tracer(), base::SensitiveDataTracePolicy(), m_queue, m_provider);
    m_storage = base::storages::CreatePersistentStorage(m_dir.Path(), Tracer(), {}, 1 << 30, 40, 4);
  }
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }

  void SetBudget(std::uint32_t packages) {
    auto settings = m_provider->GetSettings();
    settings.telemetryTransferSettings.maxPacketsInFallbackSendIteration = packages;
    m_provider->SetSettings(settings);
  }
  // One factory per storage, as one serves a client's every pass.
  std::shared_ptr<TelemetryClient> Client(bool online) {
    if (!m_factory || m_factoryStorage != m_storage) {
      m_factoryStorage = m_storage;
      m_factory = std::make_unique<TelemetryClientFactory>(Tracer(), m_storage, m_queue, m_handler, m_provider,
                                                           [this] { return m_sender; });
    }
    return m_factory->Create(online);
  }
  // Queues events "q1", "q2", ... and returns their texts.
  std::vector<std::string> Enqueue(int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
      texts.push_back("{\"q\":" + std::to_string(++m_queued) + "}");
      m_handler->SendTelemetry(base::ToUtf16(texts.back()));
    }
    return texts;
  }
  // Stores events {"s":1}, {"s":2}, ... (with a member of `padding`
  // bytes) in the stored form and returns their texts.
  std::vector<std::string> Store(int count, std::size_t padding = 0) {
    std::vector<std::string> texts, values;
    const std::string pad = padding ? ",\"p\":\"" + std::string(padding, 'x') + "\"" : "";
    for (int i = 0; i < count; ++i) {
      texts.push_back("{\"s\":" + std::to_string(++m_stored) + pad + "}");
      values.push_back(R"({"severity":0,"text":)" + boost::json::serialize(boost::json::string(texts.back())) + "}");
    }
    m_storage->Insert(values);
    return texts;
  }
  std::vector<std::string> QueueTexts() {
    std::vector<std::string> texts;
    for (auto& record : m_queue->PopFront(0)) texts.emplace_back(record.Text());
    return texts;
  }
  std::vector<std::string> StoredTexts() {
    std::vector<std::string> texts;
    for (const auto& row : *m_storage) {
      texts.emplace_back(boost::json::parse(row.value).at("text").as_string());
    }
    return texts;
  }
  // Every event is in exactly one place: sent, queued or stored.
  void ExpectEachEventOnce(std::vector<std::string> all, const std::vector<std::string>& queued,
                           const std::vector<std::string>& stored) {
    std::vector<std::string> found = m_sender->sent;
    found.insert(found.end(), queued.begin(), queued.end());
    found.insert(found.end(), stored.begin(), stored.end());
    std::sort(found.begin(), found.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(found, all);
  }

  TempDirectory m_dir;
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  std::shared_ptr<TelemetryQueueImpl> m_queue =
      std::make_shared<TelemetryQueueImpl>(nullptr, 200000, base::SensitiveDataTracePolicy());
  std::shared_ptr<EdrTelemetryClientSettingsProvider> m_provider;
  std::shared_ptr<TelemetryHandlerImpl> m_handler;
  std::shared_ptr<PartitionedValueStorage> m_storage;
  std::shared_ptr<ScriptedSender> m_sender = std::make_shared<ScriptedSender>();
  std::unique_ptr<TelemetryClientFactory> m_factory;
  std::shared_ptr<PartitionedValueStorage> m_factoryStorage;
  base::StopSource m_stop;
  int m_queued = 0;
  int m_stored = 0;
};

TEST_F(TelemetryClientTest, BacklogFirstWithinTheBudget) {
  SetBudget(2);
  const auto stored = Store(9);
  const auto queued = Enqueue(4);
  Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->packageSizes, (std::vector<std::size_t>{3, 3}));
  EXPECT_EQ(m_sender->sent, std::vector<std::string>(stored.begin(), stored.begin() + 6));
  EXPECT_EQ(StoredTexts(), std::vector<std::string>(stored.begin() + 6, stored.end()));
  EXPECT_EQ(QueueTexts(), queued);  // budget spent: back in order
  EXPECT_EQ(m_sender->closes, 1);
}

TEST_F(TelemetryClientTest, QueueGoesInPackagesAndTheRestWaitsForTheNextPass) {
  auto queued = Enqueue(7);
  Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->packageSizes, (std::vector<std::size_t>{3, 3, 1}));
  EXPECT_EQ(m_sender->sent, queued);
  EXPECT_TRUE(QueueTexts().empty());

  SetBudget(2);
  m_sender = std::make_shared<ScriptedSender>();
  queued = Enqueue(7);
  Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->packageSizes, (std::vector<std::size_t>{3, 3}));
  EXPECT_EQ(QueueTexts(), std::vector<std::string>{queued[6]});

  SetBudget(0);  // a budget of 0 would never send the queue: it counts as 1
  m_sender = std::make_shared<ScriptedSender>();
  Enqueue(4);
  Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->packageSizes, (std::vector<std::size_t>{3}));
}

TEST_F(TelemetryClientTest, ConnectionFailurePartWayKeepsWhatWasNotHandedOver) {
  const auto queued = Enqueue(6);
  m_sender->script = {{}, {2, Throws<base::connection_exception>()}};
  EXPECT_THROW(Client(true)->Process(m_stop.GetToken()), base::connection_exception);
  const auto back = QueueTexts();
  EXPECT_EQ(back, std::vector<std::string>(queued.begin() + 5, queued.end()));
  EXPECT_EQ(m_sender->closes, 0);
  ExpectEachEventOnce(queued, back, {});

  m_sender = std::make_shared<ScriptedSender>();
  const auto stored = Store(3);
  m_sender->script = {{2, Throws<base::connection_exception>()}};
  EXPECT_THROW(Client(true)->Process(m_stop.GetToken()), base::connection_exception);
  EXPECT_EQ(StoredTexts(), std::vector<std::string>{stored[2]});
  ExpectEachEventOnce(stored, {}, StoredTexts());
}

// A pass takes the queue a package at a time, so that it holds one package
// beside the queue's bound, never a second queue's worth: the events queued
// while a package is out meet the bound, which drops the oldest still queued.
TEST_F(TelemetryClientTest, APassHoldsOnePackageBesideTheQueuesBound) {
  const auto counters = std::make_shared<DeliveryCounters>();
  m_queue = std::make_shared<TelemetryQueueImpl>(nullptr, 10, base::SensitiveDataTracePolicy(), counters);
  m_handler = std::make_shared<TelemetryHandlerImpl>(Tracer(), base::SensitiveDataTracePolicy(), m_queue, m_provider);
  auto all = Enqueue(9);
  const auto queuedMeanwhile = [&] {
    const auto more = Enqueue(12);
    all.insert(all.end(), more.begin(), more.end());
  };
  m_sender->script = {{3, queuedMeanwhile}, {0, Throws<base::connection_exception>()}};
  EXPECT_THROW(Client(true)->Process(m_stop.GetToken()), base::connection_exception);
  EXPECT_EQ(m_sender->sent, std::vector<std::string>(all.begin(), all.begin() + 3));
  // The newest 11 (the bound, 10, plus the one the next event meets), in
  // order; the 7 before them were dropped.
  EXPECT_EQ(QueueTexts(), std::vector<std::string>(all.end() - 11, all.end()));
  EXPECT_EQ(counters->lostToQueueLimit, 7u);
}

TEST_F(TelemetryClientTest, InternalFailureMovesTheQueueToStorageAndBadRequestDropsOnePackage) {
  auto queued = Enqueue(6);
  m_sender->script = {{1, Throws<base::internal_exception>()}};
  Client(true)->Process(m_stop.GetToken());
  EXPECT_TRUE(QueueTexts().empty());
  const auto stored = StoredTexts();
  EXPECT_EQ(stored, std::vector<std::string>(queued.begin() + 1, queued.end()));
  EXPECT_EQ(m_tracer->Count("queue processing failed, process the queue offline"), 1u);
  ExpectEachEventOnce(queued, {}, stored);

  m_storage->Clear();
  m_sender = std::make_shared<ScriptedSender>();
  queued = Enqueue(6);
  m_sender->script = {{0, Throws<base::bad_request_exception>()}};
  Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->packageSizes, (std::vector<std::size_t>{3, 3}));
  EXPECT_EQ(m_sender->sent, std::vector<std::string>(queued.begin() + 3, queued.end()));
  EXPECT_TRUE(QueueTexts().empty());
  EXPECT_EQ(m_tracer->Count("bad request, 3 events dropped"), 1u);
  // One event went before the failure, three after the refusal.
  EXPECT_EQ(m_factory->Counters()->delivered, 4u);
  EXPECT_EQ(m_factory->Counters()->refusedByEndpoint, 3u);
  EXPECT_EQ(m_factory->Counters()->spoolFailures, 0u);
}

TEST_F(TelemetryClientTest, OfflineStoresTheQueueInTheStoredForm) {
  const auto queued = Enqueue(5);
  Client(false)->Process(m_stop.GetToken());
  EXPECT_EQ(StoredTexts(), queued);
  const auto first = *m_storage->begin();
  EXPECT_EQ(first.value, R"({"severity":0,"text":"{\"q\":1}"})");
  EXPECT_EQ(m_tracer->Count("save events: size = 5"), 1u);
}

TEST_F(TelemetryClientTest, StopPutsBackWhatWasNotStored) {
  const auto queued = Enqueue(5);
  m_stop.RequestStop();
  EXPECT_THROW(Client(false)->Process(m_stop.GetToken()), base::stop_exception);
  EXPECT_EQ(QueueTexts(), queued);
  EXPECT_TRUE(StoredTexts().empty());
}

// A stop at any moment of a large offline pass: every event ends up either
// stored or back in the queue, once.
TEST_F(TelemetryClientTest, StopAtAnyMomentLosesAndDuplicatesNothing) {
  m_tracer->SetMaximumLevel(300);
  const auto queued = Enqueue(20000);
  auto client = Client(false);
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    m_stop.RequestStop();
  });
  try {
    client->Process(m_stop.GetToken());
  } catch (const base::stop_exception&) {
  }
  stopper.join();
  ExpectEachEventOnce(queued, QueueTexts(), StoredTexts());
}

// A storage that refuses every insert loses no event, and keeps none from
// being sent while an endpoint takes them: its failure is told once.
TEST_F(TelemetryClientTest, StorageThatFailsEveryInsertLosesNoEventAndKeepsNoneFromBeingSent) {
  const auto queued = Enqueue(5);
  std::ofstream(m_dir.Path() / "queues").flush();  // a file where the folder should be
  EXPECT_THROW(Client(false)->Process(m_stop.GetToken()), base::tools_exception);
  EXPECT_EQ(QueueTexts(), queued);
  for (const std::string& text : queued) m_handler->SendTelemetry(base::ToUtf16(text));  // back in the queue
  for (int pass = 0; pass < 2; ++pass) Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->sent, queued);

  // A backlog that cannot be read (a folder where a partition file should
  // be) holds back no queued event either, and is told once.
  m_factory.reset();
  m_factoryStorage.reset();
  m_storage.reset();
  std::filesystem::remove(m_dir.Path() / "queues");
  std::filesystem::create_directories(m_dir.Path() / "queues" / "telemetry-0.db");
  m_storage = base::storages::CreatePersistentStorage(m_dir.Path(), Tracer(), {}, 1 << 30, 40, 4);
  m_sender = std::make_shared<ScriptedSender>();
  const auto more = Enqueue(3);
  for (int pass = 0; pass < 2; ++pass) Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->sent, more);
  EXPECT_EQ(m_tracer->Count("stored events cannot be read, the queue is sent without them"), 1u);
  m_sender = std::make_shared<ScriptedSender>();

  Enqueue(2);
  m_sender->script = {{0, Throws<base::internal_exception>()}};
  EXPECT_THROW(Client(true)->Process(m_stop.GetToken()), base::tools_exception);
  EXPECT_EQ(QueueTexts().size(), 2u);
}

// An offline pass stores a chunk at a time. A storage that refuses every
// insert is handed one chunk per try, not the whole queue, and nothing is
// lost; a storage that takes them gets a large pass spread over partitions
// of the size it was given, in order.
TEST_F(TelemetryClientTest, OfflinePassStoresAChunkAtATime) {
  m_tracer->SetMaximumLevel(700);
  const auto queued = Enqueue(5000);
  std::ofstream(m_dir.Path() / "queues").flush();  // a file where the folder should be
  EXPECT_THROW(Client(false)->Process(m_stop.GetToken()), base::tools_exception);
  EXPECT_EQ(QueueTexts(), queued);
  // The try and the one more try.
  EXPECT_EQ(m_tracer->Count("save events: size = 1024"), 2u);
  EXPECT_EQ(m_tracer->Count("save events: size = 5000"), 0u);

  const std::filesystem::path folder = m_dir.Path() / "small";
  m_storage = base::storages::CreatePersistentStorage(folder, Tracer(), {}, 512 * 1024, 40, 4);
  std::vector<std::string> large;
  for (int i = 0; i < 3000; ++i) {
    large.push_back("{\"q\":" + std::to_string(i) + ",\"p\":\"" + std::string(1000, 'x') + "\"}");
    m_handler->SendTelemetry(base::ToUtf16(large.back()));
  }
  Client(false)->Process(m_stop.GetToken());
  EXPECT_EQ(StoredTexts(), large);
  std::size_t partitions = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "queues")) {
    partitions += entry.path().extension() == ".db";
  }
  // About 1 MiB an insert, each into a fresh partition once the last one
  // has reached its 512 KiB.
  EXPECT_EQ(partitions, 3u);
}

TEST_F(TelemetryClientTest, UnreadableStoredRowIsDroppedWithoutBlockingTheRest) {
  m_tracer->SetMaximumLevel(800);
  auto stored = Store(2);
  m_storage->Insert(std::vector<std::string>{"not json", R"({"severity":0})"});
  const auto more = Store(2);
  stored.insert(stored.end(), more.begin(), more.end());
  Client(true)->Process(m_stop.GetToken());
  EXPECT_EQ(m_sender->sent, stored);
  EXPECT_TRUE(StoredTexts().empty());
  EXPECT_EQ(m_storage->LostRows(), 2u);
  const auto dropped = m_tracer->LinesContaining("stored event cannot be read and is dropped: partition = 0; id = 3");
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].level, 300);
  EXPECT_EQ(m_tracer->Count("not json"), 0u);  // content never traced
}

// Overwrites the middle leaf page of the stored rows, as a failing disk would.
void DamageMiddleLeafPage(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(reinterpret_cast<const char*>(file.u8string().c_str()), &db), SQLITE_OK);
  std::vector<std::int64_t> leaves;
  std::int64_t pageSize = 0;
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT pageno FROM dbstat WHERE name = 'value_storage' AND pagetype = 'leaf' ORDER BY pageno;",
                     -1, &statement, nullptr);
  while (sqlite3_step(statement) == SQLITE_ROW) leaves.push_back(sqlite3_column_int64(statement, 0));
  sqlite3_finalize(statement);
  sqlite3_prepare_v2(db, "PRAGMA page_size;", -1, &statement, nullptr);
  if (sqlite3_step(statement) == SQLITE_ROW) pageSize = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  ASSERT_GT(leaves.size(), 4u);
  std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp((leaves[leaves.size() / 2] - 1) * pageSize);
  out << std::string(static_cast<std::size_t>(pageSize), '\xA5');
  ASSERT_TRUE(out.good());
}

// A damaged page in the middle of the backlog: the rows on both sides of it
// and the queue behind it are delivered, what cannot be read is counted and
// the file repaired, the next pass goes on, and the trace level changes
// none of it. Small packages meet the damage when their rows are deleted,
// a large one while the rows are read.
TEST_F(TelemetryClientTest, DamagedPageInTheBacklogBlocksNothing) {
  for (const auto& [level, packageSize] : {std::pair{300, 3}, {800, 3}, {300, 500}, {800, 500}}) {
    SCOPED_TRACE(testing::Message() << "level " << level << ", package " << packageSize);
    m_tracer->Clear();
    m_tracer->SetMaximumLevel(level);
    auto settings = m_provider->GetSettings();
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = packageSize;
    m_provider->SetSettings(settings);
    const TempDirectory dir;
    const auto open = [&] { m_storage = base::storages::CreatePersistentStorage(dir.Path(), Tracer(), {}, 1 << 30, 40, 4); };
    open();
    SetBudget(1000);
    const auto stored = Store(400, 200);
    m_storage.reset();  // closed, and its log folded into the file
    DamageMiddleLeafPage(dir.Path() / "queues" / "telemetry-0.db");
    open();
    const auto queued = Enqueue(5);
    m_sender = std::make_shared<ScriptedSender>();
    Client(true)->Process(m_stop.GetToken());

    const auto& sent = m_sender->sent;
    ASSERT_GT(sent.size(), queued.size());
    EXPECT_EQ(std::vector<std::string>(sent.end() - 5, sent.end()), queued);
    const std::vector<std::string> fromStorage(sent.begin(), sent.end() - 5);
    EXPECT_EQ(fromStorage.front(), stored.front());
    EXPECT_EQ(fromStorage.back(), stored.back());
    // In their order, each once.
    std::map<std::string, std::size_t> position;
    for (std::size_t i = 0; i < stored.size(); ++i) position[stored[i]] = i;
    for (std::size_t i = 1; i < fromStorage.size(); ++i) {
      ASSERT_TRUE(position.count(fromStorage[i]));
      EXPECT_LT(position[fromStorage[i - 1]], position[fromStorage[i]]);
    }
    // Every stored event is delivered once or counted as lost.
    EXPECT_GT(m_storage->LostRows(), 0u);
    EXPECT_EQ(fromStorage.size() + m_storage->LostRows(), stored.size());
    const auto lost = m_tracer->LinesContaining("stored rows can't be read and are lost");
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].level, 300);
    EXPECT_EQ(lost[0].text.find("xxx"), std::string::npos);
    EXPECT_TRUE(StoredTexts().empty());

    m_sender = std::make_shared<ScriptedSender>();
    const auto later = Enqueue(2);
    Client(true)->Process(m_stop.GetToken());
    EXPECT_EQ(m_sender->sent, later);
  }
}

TEST_F(TelemetryClientTest, QueueFullSignalWakesTheLoopAndSettingsApply) {
  auto client = Client(true);
  EXPECT_EQ(client->GetSleepTime(), 30000u);
  EXPECT_EQ(client->GetWakeupEvent()->Wait(0), platform::Event::kTimedOut);
  Enqueue(3);  // one package
  EXPECT_EQ(client->GetWakeupEvent()->Wait(0), platform::Event::kSignalled);
  auto settings = m_provider->GetSettings();
  settings.telemetryTransferSettings.maximumDataTransferTime = 5000;
  m_provider->SetSettings(settings);
  EXPECT_EQ(client->GetSleepTime(), 5000u);
}

TEST(ConnectionErrorInfo, ReadBackFromTheException) {
  base::connection_exception bare(oru::rc::NetworkError, "refused", __FILE__, __LINE__);
  EXPECT_EQ(ConnectionErrorInfo::From(bare).reason, 0u);
  ConnectionErrorInfo info{2, "siem:6514", "v2", 7};
  info.ApplyTo(bare);
  const auto back = ConnectionErrorInfo::From(bare);
  EXPECT_EQ(back.reason, 2u);
  EXPECT_EQ(back.serverAddress, "siem:6514");
  EXPECT_EQ(back.apiVersion, "v2");
  EXPECT_EQ(back.dataDiodeProtocol, 7u);
  EXPECT_EQ(ConnectionErrorReasonName(1), "eInvalidClientCertificate");
  EXPECT_EQ(ConnectionErrorReasonName(4), "eBadCredentials");
  EXPECT_FALSE(ConnectionErrorReasonName(5).has_value());
}

}  // namespace
