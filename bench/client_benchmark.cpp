// The whole client as the host drives it, through the reference host's
// services: the drop decision and the hand-in of each event, then delivery
// over TCP to a loopback receiver, next to parsing the same events with
// Boost.JSON. The events are a few hundred of five kinds, from about 300 B
// to 8 KB, under the fifty rules of filter_benchmark; most of them pass. On
// a small machine the figures vary from run to run: compare them over
// interleaved repetitions (--benchmark_repetitions=10
// --benchmark_enable_random_interleaving=true).
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio.hpp>
#include <boost/json.hpp>

#include "component/oru/result_code.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/create_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "fifty_rules.h"
#include "host/client_certificate_decryptor.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "host/tracer.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;
using namespace sendara::edr_telemetry;
using boost::asio::ip::tcp;

// Events a sending pass takes at once; a full package wakes the worker.
constexpr int kPackage = 1024;

struct CorpusEvent {
  std::string utf8;
  std::u16string utf16;
  std::u16string type;
  std::uint32_t throttlingId = 0;
  std::vector<Ioa> ioas;
};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : m_random(seed) {}

  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
  double Real(double low, double high) { return std::uniform_real_distribution<double>(low, high)(m_random); }
  template <std::size_t N>
  const char* Pick(const char* const (&items)[N]) {
    return items[Int(0, static_cast<int>(N) - 1)];
  }
  std::string Hex(std::size_t digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(digits, '0');
    for (char& c : text) c = kDigits[Int(0, 15)];
    return text;
  }
  std::string Guid() { return Hex(8) + "-" + Hex(4) + "-" + Hex(4) + "-" + Hex(4) + "-" + Hex(12); }
  std::string Number(int low, int high) { return std::to_string(Int(low, high)); }

 private:
  std::mt19937 m_random;
};

// Names, paths and users that none of the fifty rules picks out.
constexpr const char* kImages[] = {"editor.exe", "browser.exe", "mailclient.exe", "shell.exe",
                                   "compiler.exe", "archiver.exe", "sync.exe", "viewer.exe"};
constexpr const char* kUsers[] = {"jdoe", "asmith", "mbrown", "kwilson", "lgarcia", "pnguyen"};
constexpr const char* kHostPrefixes[] = {"WS-FINANCE-", "WS-SALES-", "LT-DEV-", "LT-HR-"};

// A process as events describe it; `full` adds user, signature and hashes.
boost::json::object Process(Generator& g, std::size_t commandLineBytes, bool full) {
  const std::string image = g.Pick(kImages);
  const std::string user = g.Pick(kUsers);
  const std::string path = "C:\\Program Files\\Tools " + g.Number(1, 9) + "\\" + image;
  std::string commandLine = "\"" + path + "\"";
  while (commandLine.size() < commandLineBytes) {
    commandLine += " --input \"C:\\Users\\" + user + "\\Documents\\report_" + g.Number(1000, 9999) + ".dat\"";
  }
  boost::json::object process{{"pid", g.Int(100, 65000)}, {"name", image}, {"path", path},
                              {"commandLine", commandLine}};
  if (full) {
    process["user"] = {{"name", user}, {"domain", "CORP"}, {"sid", "S-1-5-21-" + g.Number(100000, 999999) + "-1013"}};
    process["signature"] = {{"signed", true}, {"signer", "Example Signing Ltd"}, {"valid", true}};
    process["hashes"] = {{"sha256", g.Hex(64)}, {"md5", g.Hex(32)}};
  }
  return process;
}

enum class Kind { kProcessCreate, kFileWrite, kNetworkConnect, kDnsQuery, kRegistrySet };

// About the shares of a workstation's stream. The rules drop registry
// events, so that some events end at the rules.
Kind PickKind(Generator& g) {
  const int share = g.Int(0, 99);
  if (share < 30) return Kind::kProcessCreate;
  if (share < 55) return Kind::kFileWrite;
  if (share < 75) return Kind::kNetworkConnect;
  if (share < 92) return Kind::kDnsQuery;
  return Kind::kRegistrySet;
}

// The event without its repeating part.
boost::json::object Envelope(Generator& g, Kind kind, std::size_t target) {
  static constexpr const char* kTypes[] = {"ProcessCreate", "FileWrite", "NetworkConnect", "DnsQuery", "RegistrySet"};
  static constexpr std::uint32_t kThrottlingIds[] = {1207, 1301, 1402, 1503, 1604};
  static constexpr int kPorts[] = {80, 443, 8080, 3389};
  const auto index = static_cast<std::size_t>(kind);
  const bool full = target >= 900;
  // Long command lines come with process creations.
  std::size_t commandLineBytes = 40;
  if (kind == Kind::kProcessCreate && full) {
    commandLineBytes = static_cast<std::size_t>(g.Int(60, static_cast<int>(std::min<std::size_t>(target / 2, 3000))));
  }
  boost::json::object event{{"eventType", kTypes[index]},
                            {"throttlingId", kThrottlingIds[index]},
                            {"timestamp", 1796561123456 + g.Int(0, 1000000)},
                            {"hostName", std::string(g.Pick(kHostPrefixes)) + g.Number(1000, 9999)},
                            {"severity", g.Int(0, 4)},
                            {"flags", g.Int(0, 1 << 20)},
                            {"process", Process(g, commandLineBytes, full)}};
  if (full) {
    event["agentId"] = g.Guid();
    event["parent"] = Process(g, 80, false);
  }
  switch (kind) {
    case Kind::kProcessCreate:
      event["modules"] = boost::json::array();
      break;
    case Kind::kFileWrite:
      event["file"] = {{"path", "C:\\Users\\" + std::string(g.Pick(kUsers)) + "\\Documents\\data_" + g.Number(1, 999) + ".bin"},
                       {"size", g.Int(0, 1 << 24)}};
      event["writes"] = boost::json::array();
      break;
    case Kind::kNetworkConnect:
      // Port 443 with a signed process: the rule on unsigned HTTPS clients
      // looks at it and lets it pass.
      event["network"] = {{"remoteAddress", "10.0." + g.Number(0, 255) + "." + g.Number(1, 254)},
                          {"remotePort", kPorts[g.Int(0, 3)]},
                          {"localPort", g.Int(49152, 65535)},
                          {"protocol", 6}};
      event["history"] = boost::json::array();
      break;
    case Kind::kDnsQuery:
      event["dns"] = {{"query", "host" + g.Number(1, 9999) + ".corp.example.org"}, {"type", "A"},
                      {"answers", boost::json::array()}};
      break;
    case Kind::kRegistrySet:
      event["registry"] = {{"key", "HKLM\\Software\\Tools\\Settings " + g.Number(1, 99)},
                           {"valueName", "Options"}, {"valueType", "REG_BINARY"}, {"data", ""}};
      break;
  }
  boost::json::array ioas;
  for (int i = g.Int(1, 3); i > 0; --i) {
    ioas.push_back({{"guid", g.Guid()}, {"version", g.Int(1, 6)}, {"markable", g.Int(0, 3) != 0}});
  }
  event["ioas"] = std::move(ioas);
  return event;
}

// Adds one element of the event's repeating part: nested objects and arrays
// of several shapes, or a longer value.
void Grow(Generator& g, Kind kind, boost::json::object& event) {
  switch (kind) {
    case Kind::kProcessCreate:
      event["modules"].as_array().push_back(
          {{"path", "C:\\Program Files\\Tools\\lib\\module_" + g.Number(1, 9999) + ".dll"},
           {"base", g.Int(0, 1 << 30)},
           {"size", g.Int(4096, 1 << 22)},
           {"signature", {{"signed", g.Int(0, 1) == 1}, {"thumbprint", g.Hex(40)}}}});
      break;
    case Kind::kFileWrite:
      event["writes"].as_array().push_back(
          {{"offset", g.Int(0, 1 << 24)}, {"length", g.Int(1, 65536)}, {"time", 1796561123456 + g.Int(0, 100000)}});
      break;
    case Kind::kNetworkConnect:
      event["history"].as_array().push_back({{"bytesIn", g.Int(0, 1 << 20)},
                                             {"bytesOut", g.Int(0, 1 << 20)},
                                             {"flags", boost::json::array{g.Int(0, 1), g.Int(0, 1), g.Int(0, 1)}}});
      break;
    case Kind::kDnsQuery:
      event["dns"].as_object()["answers"].as_array().push_back(
          {{"type", "A"}, {"data", "10.1." + g.Number(0, 255) + "." + g.Number(1, 254)}, {"ttl", g.Int(30, 3600)}});
      break;
    case Kind::kRegistrySet:
      event["registry"].as_object()["data"].as_string().append(g.Hex(128));
      break;
  }
}

CorpusEvent ToCorpusEvent(const boost::json::object& event) {
  CorpusEvent out;
  out.utf8 = boost::json::serialize(event);
  out.utf16 = sendara::base::ToUtf16(out.utf8);
  out.type = sendara::base::ToUtf16(std::string(event.at("eventType").as_string()));
  out.throttlingId = event.at("throttlingId").to_number<std::uint32_t>();
  for (const boost::json::value& ioa : event.at("ioas").as_array()) {
    const boost::json::object& fields = ioa.as_object();
    out.ioas.push_back({std::string(fields.at("guid").as_string()),
                        fields.at("version").to_number<std::uint32_t>(), fields.at("markable").as_bool()});
  }
  return out;
}

// Sizes spread evenly on a log scale, so that small events are as common
// as large ones per octave.
std::vector<CorpusEvent> MakeCorpus() {
  constexpr int kEvents = 400;
  Generator g(20240611);
  std::vector<CorpusEvent> corpus;
  for (int i = 0; i < kEvents; ++i) {
    const Kind kind = PickKind(g);
    const auto target = static_cast<std::size_t>(std::exp(g.Real(std::log(300.0), std::log(8192.0))));
    boost::json::object event = Envelope(g, kind, target);
    while (boost::json::serialize(event).size() < target) Grow(g, kind, event);
    corpus.push_back(ToCorpusEvent(event));
  }
  return corpus;
}

const std::vector<CorpusEvent>& Corpus() {
  static const std::vector<CorpusEvent> corpus = MakeCorpus();
  return corpus;
}

// A process event of `bytes` or a little more, most of it loaded modules.
CorpusEvent LargeEvent(std::size_t bytes) {
  Generator g(static_cast<std::uint32_t>(bytes));
  boost::json::object event = Envelope(g, Kind::kProcessCreate, 8192);
  std::size_t size = boost::json::serialize(event).size();
  while (size < bytes) {
    Grow(g, Kind::kProcessCreate, event);
    size += boost::json::serialize(event["modules"].as_array().back()).size() + 1;
  }
  return ToCorpusEvent(event);
}

// Each host thread's own IOA lists, which a decision may change.
std::vector<std::vector<Ioa>> IoaLists(const std::vector<CorpusEvent>& events) {
  std::vector<std::vector<Ioa>> lists;
  for (const CorpusEvent& event : events) lists.push_back(event.ioas);
  return lists;
}

// Where a host thread starts in the corpus: threads work on different events.
std::size_t FirstEvent(const benchmark::State& state) {
  return Corpus().size() * static_cast<std::size_t>(state.thread_index()) / static_cast<std::size_t>(state.threads());
}

// The services a host registers, and a data folder of the client's own.
struct Host {
  Host() {
    locator->Register(tracer);
    locator->Register(decryptor);
    locator->Register(suffix);
  }

  TempDirectory dataFolder;
  // No trace level is that low: the tracer is asked and records nothing.
  oru::RefPtr<reference_host::Tracer> tracer = reference_host::Tracer::Create(0);
  oru::RefPtr<reference_host::ClientCertificateDecryptor> decryptor =
      reference_host::ClientCertificateDecryptor::Create();
  oru::RefPtr<reference_host::SyslogMessageSuffix> suffix = reference_host::SyslogMessageSuffix::Create();
  oru::RefPtr<reference_host::ServiceLocator> locator = reference_host::ServiceLocator::Create();
};

// One TCP endpoint, the fifty rules, and no hourly limits: the throttler is
// asked about every event and drops none of the corpus.
EdrTelemetryClientSettings Settings(const Host& host, const std::string& port) {
  EdrTelemetryClientSettings settings;
  settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:" + port});
  settings.persistentDataPath = host.dataFolder.Path().u16string();
  settings.timeoutConnection = 5000;
  settings.timeoutRequest = 5000;
  settings.excludedEventTypes = std::vector<std::u16string>{u"Heartbeat", u"ModuleLoad"};
  settings.telemetryTransferSettings.useRequestCountLimits = false;
  ConvertToExclusionRulesFromString(nullptr, sendara::base::ToUtf16(bench::FiftyRules()), settings.excludeRules,
                                    nullptr);
  return settings;
}

// The decision, then the hand-in of what passed, as the host does for one
// event. False when the client refused the event.
bool Handle(IEdrTelemetryClient& client, const CorpusEvent& event, std::vector<Ioa>& ioas, bool& passed) {
  bool drop = true;
  if (client.ShouldDropEventOrIoa(event.throttlingId, event.type, event.utf16, ioas, &drop) != oru::rc::NoError) {
    return false;
  }
  passed = !drop;
  return drop || client.SendTelemetry(event.utf16) == oru::rc::NoError;
}

void BM_ParseOnly(benchmark::State& state) {
  const std::vector<CorpusEvent>& corpus = Corpus();
  std::size_t next = 0;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const std::string& text = corpus[next].utf8;
    benchmark::DoNotOptimize(boost::json::parse(text));
    bytes += static_cast<std::int64_t>(text.size());
    if (++next == corpus.size()) next = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ParseOnly);

// The parse as the client's drop decision does it: one parser and one
// block of memory kept from event to event, so that no value costs an
// allocation. The strictest baseline: the parse alone, without the
// allocator's share that BM_ParseOnly pays for every value.
void BM_ParseOnlyPooled(benchmark::State& state) {
  constexpr std::size_t kBlockBytes = 64 * 1024;
  const std::vector<CorpusEvent>& corpus = Corpus();
  const std::unique_ptr<unsigned char[]> block(new unsigned char[kBlockBytes]);
  boost::json::parser parser;
  std::size_t next = 0;
  std::int64_t bytes = 0;
  bool failed = false;
  for (auto _ : state) {
    const std::string& text = corpus[next].utf8;
    boost::json::monotonic_resource memory(block.get(), kBlockBytes);
    parser.reset(&memory);
    boost::system::error_code error;
    parser.write(text.data(), text.size(), error);
    failed |= static_cast<bool>(error);
    if (!error) {
      const boost::json::value document = parser.release();
      benchmark::DoNotOptimize(&document);
    }
    bytes += static_cast<std::int64_t>(text.size());
    if (++next == corpus.size()) next = 0;
  }
  if (failed) state.SkipWithError("an event did not parse");
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ParseOnlyPooled);

// The client gets UTF-16 and converts it before it parses: the same parse
// with that conversion in it.
void BM_ParseFromUtf16(benchmark::State& state) {
  const std::vector<CorpusEvent>& corpus = Corpus();
  std::size_t next = 0;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const CorpusEvent& event = corpus[next];
    benchmark::DoNotOptimize(boost::json::parse(sendara::base::ToUtf8(event.utf16)));
    bytes += static_cast<std::int64_t>(event.utf8.size());
    if (++next == corpus.size()) next = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ParseFromUtf16);

// A client never started, made for each run, as the host has it before the
// start: the queue takes every event that passes, and past its limit would
// drop the oldest. When the run ends the client goes, its queue into its
// data folder, outside the timed part; one client for the whole program
// would hold a full queue, some hundreds of megabytes, to the end.
struct Enqueueing {
  explicit Enqueueing(bool stripping = false) {
    EdrTelemetryClientSettings settings = Settings(host, "9");
    // Every member but the IOA list, which the stripper then takes out of
    // every event.
    if (stripping) {
      settings.allowedEventFields = std::vector<std::string>{
          "eventType", "throttlingId", "timestamp", "hostName", "severity", "flags", "process", "agentId",
          "parent", "modules", "file", "writes", "network", "history", "dns", "registry"};
    }
    // Never sent: the smallest store takes the queue at the end.
    settings.persistentTelemetryPartSize = 1;
    settings.persistentTelemetryPartCount = 2;
    settings.persistentTelemetryPartRemoveCount = 1;
    client = CreateEdrTelemetryClient(settings, host.locator.Get(), nullptr);
  }
  Host host;
  oru::RefPtr<IEdrTelemetryClient> client;
};
Enqueueing* g_enqueueing = nullptr;

void DecideAndEnqueue(benchmark::State& state, bool stripping) {
  if (state.thread_index() == 0) g_enqueueing = new Enqueueing(stripping);
  const std::vector<CorpusEvent>& corpus = Corpus();
  std::vector<std::vector<Ioa>> ioas = IoaLists(corpus);
  std::size_t next = FirstEvent(state);
  std::int64_t passed = 0;
  std::int64_t refused = 0;
  for (auto _ : state) {
    bool sent = false;
    if (!Handle(*g_enqueueing->client, corpus[next], ioas[next], sent)) ++refused;
    passed += sent;
    if (++next == corpus.size()) next = 0;
  }
  if (refused) state.SkipWithError("the client refused events");
  state.SetItemsProcessed(state.iterations());
  state.counters["passed"] = benchmark::Counter(static_cast<double>(passed), benchmark::Counter::kAvgIterations);
  if (state.thread_index() == 0) {
    delete g_enqueueing;
    g_enqueueing = nullptr;
  }
}

void BM_DecideAndEnqueue(benchmark::State& state) { DecideAndEnqueue(state, false); }
BENCHMARK(BM_DecideAndEnqueue)->Threads(1)->Threads(2)->UseRealTime();

// The same with the field rules on, so that each event passed is stripped.
void BM_DecideAndEnqueueStripping(benchmark::State& state) { DecideAndEnqueue(state, true); }
BENCHMARK(BM_DecideAndEnqueueStripping)->Threads(1)->Threads(2)->UseRealTime();

// Accepts connections on 127.0.0.1 and counts what arrives, without looking.
class CountingReceiver {
 public:
  CountingReceiver() : m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~CountingReceiver() {
    m_io.stop();
    m_thread.join();
  }

  std::string Port() const { return std::to_string(m_acceptor.local_endpoint().port()); }
  // Waits until `bytes` have arrived in all.
  bool WaitFor(std::uint64_t bytes, std::chrono::milliseconds timeout) EXCLUDES(m_mutex) {
    platform::MutexLock lock(&m_mutex);
    m_target = bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_bytes < bytes) {
      if (!m_arrived.WaitUntil(&m_mutex, deadline)) return m_bytes >= bytes;
    }
    return true;
  }

 private:
  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
      if (error) return;
      Read(std::make_shared<tcp::socket>(std::move(socket)));
      Accept();
    });
  }
  // Reads until the sender hangs up; each sending pass connects anew.
  void Read(std::shared_ptr<tcp::socket> socket) {
    socket->async_read_some(boost::asio::buffer(m_buffer),
                            [this, socket](const boost::system::error_code& error, std::size_t size) {
                              if (error) return;
                              // Only a waiter whose count is reached is woken.
                              if ((m_bytes += size) >= m_target) {
                                // Under the lock: a waiter between its check
                                // and its wait must not miss it.
                                platform::MutexLock lock(&m_mutex);
                                m_arrived.NotifyAll();
                              }
                              Read(socket);
                            });
  }

  boost::asio::io_context m_io;
  tcp::acceptor m_acceptor;
  char m_buffer[256 * 1024];
  std::atomic<std::uint64_t> m_bytes{0};
  std::atomic<std::uint64_t> m_target{std::numeric_limits<std::uint64_t>::max()};
  // Guards no data (the counts are atomic): it orders a wake-up after a
  // waiter's check.
  platform::Mutex m_mutex;
  platform::ConditionVariable m_arrived;
  std::thread m_thread;
};

// One run of the end-to-end benchmark, shared by its host threads.
struct Delivery {
  explicit Delivery(int threads) : lastIteration(threads) {
    EdrTelemetryClientSettings settings = Settings(host, receiver.Port());
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = kPackage;
    settings.telemetryTransferSettings.maximumDataTransferTime = 100;
    client = CreateEdrTelemetryClient(settings, host.locator.Get(), nullptr);
  }

  CountingReceiver receiver;
  Host host;
  oru::RefPtr<IEdrTelemetryClient> client;
  // The bytes of the events handed in, as the receiver counts them.
  std::atomic<std::uint64_t> handedIn{0};
  std::atomic<bool> failed{false};
  // Where the host threads meet once all of them have handed in their last
  // events.
  std::barrier<> lastIteration;
};
Delivery* g_delivery = nullptr;

// Hands events in from `next` on until `count` of them have passed the
// decision; returns their bytes on the wire (each event and its line break).
std::uint64_t HandIn(Delivery& run, std::vector<std::vector<Ioa>>& ioas, std::size_t& next, int count) {
  const std::vector<CorpusEvent>& corpus = Corpus();
  std::uint64_t bytes = 0;
  for (int passed = 0; passed < count;) {
    bool sent = false;
    if (!Handle(*run.client, corpus[next], ioas[next], sent)) run.failed = true;
    if (sent) {
      ++passed;
      bytes += corpus[next].utf8.size() + 1;
    }
    if (++next == corpus.size()) next = 0;
  }
  return bytes;
}

// Delivered events per second: each iteration hands in a package's worth of
// passing events on each host thread, and the last one ends when the
// receiver has counted every byte handed in. Whole packages only, so that
// the last event wakes the worker at once instead of at the end of its
// sending period.
void BM_EndToEndTcp(benchmark::State& state) {
  if (state.thread_index() == 0) {
    g_delivery = new Delivery(state.threads());
    Delivery& run = *g_delivery;
    // Connected, and the worker's first pass done, before the timed part.
    if (run.client->Start() != oru::rc::NoError) run.failed = true;
    std::vector<std::vector<Ioa>> ioas = IoaLists(Corpus());
    std::size_t next = 0;
    run.handedIn = HandIn(run, ioas, next, kPackage);
    if (!run.receiver.WaitFor(run.handedIn, 10s)) run.failed = true;
  }
  std::vector<std::vector<Ioa>> ioas = IoaLists(Corpus());
  std::size_t next = FirstEvent(state);
  benchmark::IterationCount done = 0;
  for (auto _ : state) {
    Delivery& run = *g_delivery;
    if (!run.failed) run.handedIn += HandIn(run, ioas, next, kPackage);
    if (++done == state.max_iterations) {
      run.lastIteration.arrive_and_wait();
      if (!run.failed && !run.receiver.WaitFor(run.handedIn, 30s)) run.failed = true;
    }
  }
  state.SetItemsProcessed(state.iterations() * kPackage);
  if (state.thread_index() == 0) {
    if (g_delivery->failed) state.SkipWithError("events were refused or did not arrive");
    delete g_delivery;
    g_delivery = nullptr;
  }
}
BENCHMARK(BM_EndToEndTcp)->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// Heap held after a million decisions, with large events among the first:
// the parsers' memory goes back to the pool trimmed, so it stays flat. The
// growth of mmap-ed blocks is counted apart, since glibc serves large
// requests from there.
void BM_DecisionMemory(benchmark::State& state) {
  constexpr int kCalls = 1000000;
  const std::vector<CorpusEvent>& corpus = Corpus();
  const std::vector<CorpusEvent> large = {LargeEvent(2 << 20), LargeEvent(5 << 20)};
  std::vector<std::vector<Ioa>> ioas = IoaLists(corpus);
  std::vector<std::vector<Ioa>> largeIoas = IoaLists(large);
  Host host;
  oru::RefPtr<IEdrTelemetryClient> client = CreateEdrTelemetryClient(Settings(host, "9"), host.locator.Get(), nullptr);
  for (auto _ : state) {
    const struct mallinfo2 before = mallinfo2();
    bool refused = false;
    for (int i = 0; i < kCalls; ++i) {
      // Calls 1, 3, 5 and 7 take the large events, in turn.
      const bool isLarge = i < 8 && i % 2 == 1;
      const std::size_t index = isLarge ? static_cast<std::size_t>(i / 2 % 2) : static_cast<std::size_t>(i) % corpus.size();
      const CorpusEvent& event = isLarge ? large[index] : corpus[index];
      bool drop = true;
      refused |= client->ShouldDropEventOrIoa(event.throttlingId, event.type, event.utf16,
                                              isLarge ? largeIoas[index] : ioas[index], &drop) != oru::rc::NoError;
    }
    const struct mallinfo2 after = mallinfo2();
    if (refused) state.SkipWithError("the client refused events");
    state.counters["heap_growth_bytes"] = static_cast<double>(after.uordblks) - static_cast<double>(before.uordblks);
    state.counters["mmapped_growth_bytes"] = static_cast<double>(after.hblkhd) - static_cast<double>(before.hblkhd);
    state.counters["large_bytes"] = static_cast<double>(large[1].utf8.size());
  }
  state.SetItemsProcessed(state.iterations() * kCalls);
}
BENCHMARK(BM_DecisionMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
