// Faults from outside, against the host program and the loopback sink as
// processes: a receiver that crashes again and again, a host that crashes, a
// disk that fills, spool files damaged while nothing ran. Every event is
// numbered, so that each one in and out is accounted for.

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <gtest/gtest.h>

#include "child_process.h"
#include "host_program_support.h"
#include "sink_process.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;

// The events in one spool file; none when it cannot be read as one.
std::vector<std::string> SpooledIn(const std::filesystem::path& file) {
  std::vector<std::string> values;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM value_storage ORDER BY id", -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        values.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return values;
}

// The spool files of a data folder, oldest partition first.
std::vector<std::filesystem::path> SpoolFiles(const std::filesystem::path& dataFolder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dataFolder / "queues", error)) {
    if (entry.path().extension() == ".db") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    const auto number = [](const std::filesystem::path& file) {
      const std::string stem = file.stem().string();  // telemetry-N
      return std::stoull(stem.substr(stem.rfind('-') + 1));
    };
    return number(a) < number(b);
  });
  return files;
}

// A port nothing listens on (the kernel just gave it to a socket of ours).
std::int64_t FreePort() {
  boost::asio::io_context context;
  boost::asio::ip::tcp::acceptor acceptor(context, {boost::asio::ip::make_address("127.0.0.1"), 0});
  return acceptor.local_endpoint().port();
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A feeder writing to a host that was killed gets EPIPE, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
  }

  const std::filesystem::path& Dir() const { return m_dir.Path(); }

  // The host on a fifo that a feeder thread writes; `prefix` goes before the
  // program (a wrapper such as prlimit).
  std::unique_ptr<ChildProcess> StartHost(const std::filesystem::path& config, const std::vector<std::string>& extra,
                                          const std::vector<std::string>& prefix = {}) {
    const std::filesystem::path fifo = Dir() / "events.fifo";
    std::filesystem::remove(fifo);
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> command = prefix;
    command.insert(command.end(), {EDR_TELEMETRY_HOST_PATH, "--config", config.string(), "--events", fifo.string(),
                                   "--summary-json", (Dir() / "summary.json").string(), "--component",
                                   EDR_COMPONENT_PATH});
    command.insert(command.end(), extra.begin(), extra.end());
    ChildProcess::Options options;
    options.stdoutFile = Dir() / "host.out";
    options.stderrFile = Dir() / "host.err";
    auto host = std::make_unique<ChildProcess>(command[0], std::vector<std::string>(command.begin() + 1, command.end()),
                                               options);
    // Without a reader the open fails (ENXIO) rather than blocks: a host
    // that ended early must not hold the test up.
    WaitUntil([&] {
      m_fifo = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      return m_fifo >= 0 || !host->Running();
    });
    EXPECT_GE(m_fifo, 0) << "the host did not open its input: " << ReadText(Dir() / "host.err");
    if (m_fifo >= 0) ::fcntl(m_fifo, F_SETFL, ::fcntl(m_fifo, F_GETFL) & ~O_NONBLOCK);
    return host;
  }

  // Writes events [0, count) to the host's fifo, `perChunk` at a time with a
  // pause between, until all are written or `stop` is set; then closes it.
  // Returns how many were written whole.
  std::uint64_t Feed(std::uint64_t count, std::uint64_t perChunk, std::chrono::milliseconds pause,
                     const std::atomic<bool>& stop, std::size_t padding = 64) {
    std::uint64_t written = 0;
    while (written < count && !stop) {
      std::string chunk;
      const std::uint64_t end = std::min(count, written + perChunk);
      for (std::uint64_t seq = written; seq < end; ++seq) chunk += NumberedEvent(seq, padding);
      if (!WriteAll(chunk)) break;
      written = end;
      std::this_thread::sleep_for(pause);
    }
    ::close(m_fifo);
    m_fifo = -1;
    return written;
  }

  bool WriteAll(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(m_fifo, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  TempDirectory m_dir;
  int m_fifo = -1;
};

// The receiver is killed twenty times while 100 000 events stream to it over
// HTTP, each time while a connection sends, and comes back on the same port.
// Every event arrives; an answer lost with the receiver costs at most the
// package it answered, sent again.
TEST_F(FaultInjectionTest, AReceiverKilledTwentyTimesLosesNothing) {
  constexpr std::uint64_t kEvents = 100000, kOutages = 20, kPackage = 500;
  auto sink = std::make_unique<SinkProcess>(Dir(), std::vector<std::string>{"--http", "0"}, "sink-0");
  const std::int64_t port = sink->Port("http");
  const std::filesystem::path config =
      ExampleConfig(Dir(), "HTTP", port, "\"maximumNumberOfEventsInPackage\":" + std::to_string(kPackage));
  const std::unique_ptr<ChildProcess> host = StartHost(config, {"--linger", "600"});
  std::atomic<bool> stop = false;
  std::uint64_t written = 0;
  std::thread feeder([&] { written = Feed(kEvents, 400, 100ms, stop); });

  std::vector<std::filesystem::path> outputs{sink->Output()};
  std::mt19937 random(20261207);
  std::uint64_t outages = 0;
  for (; outages < kOutages; ++outages) {
    if (!WaitUntil([&] { return std::filesystem::file_size(sink->Output()) > 0; }, 20s)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
    sink->Kill();
    sink = std::make_unique<SinkProcess>(Dir(), std::vector<std::string>{"--http", std::to_string(port)},
                                         "sink-" + std::to_string(outages + 1));
    outputs.push_back(sink->Output());
  }
  feeder.join();
  EXPECT_EQ(outages, kOutages) << "an incarnation of the receiver got nothing";
  EXPECT_EQ(written, kEvents);

  std::vector<std::vector<std::int64_t>> perIncarnation;
  std::set<std::int64_t> distinct;
  const auto gather = [&] {
    perIncarnation.clear();
    distinct.clear();
    for (const std::filesystem::path& output : outputs) {
      perIncarnation.push_back({});
      // A receiver killed while it wrote a batch leaves that batch's last
      // line cut short; the batch went unanswered and is sent again.
      std::string text = ReadText(output);
      text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
      for (const std::string& line : Lines(text)) {
        perIncarnation.back().push_back(SeqOf(line));
        distinct.insert(SeqOf(line));
      }
    }
    return distinct.size() >= kEvents;
  };
  for (const auto deadline = std::chrono::steady_clock::now() + 40s;
       !gather() && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(500ms);
  }
  host->Terminate();
  EXPECT_EQ(host->Wait(), 0) << ReadText(Dir() / "host.err");
  sink->Stop();
  gather();

  const boost::json::object summary = ReadJson(Dir() / "summary.json");
  EXPECT_EQ(Number(summary, "handedOver"), static_cast<std::int64_t>(kEvents));
  EXPECT_EQ(Number(summary, "leftInSpool"), 0);
  EXPECT_EQ(distinct.size(), kEvents);
  EXPECT_EQ(*distinct.begin(), 0);
  EXPECT_EQ(*distinct.rbegin(), static_cast<std::int64_t>(kEvents - 1));
  std::uint64_t total = 0;
  for (const auto& seqs : perIncarnation) total += seqs.size();
  for (std::size_t i = 0; i < perIncarnation.size(); ++i) {
    const std::vector<std::int64_t>& seqs = perIncarnation[i];
    EXPECT_TRUE(std::is_sorted(seqs.begin(), seqs.end())) << "out of order in incarnation " << i;
  }
  std::cout << "received " << total << " for " << kEvents << " events over " << outages << " outages\n";
  EXPECT_LE(total - distinct.size(), kOutages * kPackage);
}

// The host is killed while events stream in and no endpoint answers. What
// it had spooled survives: a new run on the same data folder delivers every
// spooled event once. Only what the queue held in memory is lost.
TEST_F(FaultInjectionTest, AHostKilledMidStreamLosesOnlyWhatItsQueueHeld) {
  const std::int64_t port = FreePort();
  const std::filesystem::path config = ExampleConfig(Dir(), "TCP", port);
  const std::unique_ptr<ChildProcess> host = StartHost(config, {"--linger", "600"});
  std::atomic<bool> stop = false;
  std::uint64_t written = 0;
  std::thread feeder([&] { written = Feed(40000, 1000, 100ms, stop); });
  std::this_thread::sleep_for(2500ms);
  host->Signal(SIGKILL);
  EXPECT_EQ(host->Wait(), 128 + SIGKILL);
  stop = true;
  feeder.join();

  std::multiset<std::int64_t> spooled;
  for (const std::filesystem::path& file : SpoolFiles(Dir() / "data-TCP")) {
    const std::multiset<std::int64_t> seqs = SeqsOf(SpooledIn(file));
    spooled.insert(seqs.begin(), seqs.end());
  }
  ASSERT_GT(spooled.size(), 0u) << "nothing was spooled before the kill";
  EXPECT_EQ(std::set<std::int64_t>(spooled.begin(), spooled.end()).size(), spooled.size());
  std::cout << written << " events written, " << spooled.size() << " spooled, " << written - spooled.size()
            << " lost with the process (queued or not yet read)\n";

  SinkProcess sink(Dir(), {"--tcp", std::to_string(port)});
  const std::filesystem::path none = Dir() / "none.ndjson";
  WriteText(none, "");
  ASSERT_EQ(RunHost(Dir(), config, none.string(), {"--linger", "3"}), 0) << ReadText(Dir() / "host.err");
  EXPECT_EQ(Number(ReadJson(Dir() / "summary.json"), "leftInSpool"), 0);
  EXPECT_EQ(SeqsOf(sink.Stop()), spooled);
}

// The spool's file may not grow beyond 1 MiB (a file-size limit on the host
// process) while the endpoint is down: the host neither crashes nor loses
// what its queue holds, the trace says why the spool failed, and once the
// endpoint is back every event arrives.
TEST_F(FaultInjectionTest, AFullDiskLosesNothingTheQueueHolds) {
  constexpr std::uint64_t kEvents = 20000;
  const std::int64_t port = FreePort();
  const std::filesystem::path config =
      ExampleConfig(Dir(), "TCP", port, "\"persistentTelemetryPartSize\":64,\"persistentTelemetryPartCount\":4");
  const std::filesystem::path trace = Dir() / "trace.log";
  const std::unique_ptr<ChildProcess> host =
      StartHost(config, {"--linger", "600", "--trace-level", "300", "--trace-file", trace.string()},
                {"/usr/bin/prlimit", "--fsize=1048576", "--"});
  const std::atomic<bool> stop = false;
  EXPECT_EQ(Feed(kEvents, 2000, 200ms, stop, 400), kEvents);
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(host->Running()) << ReadText(Dir() / "host.err");

  SinkProcess sink(Dir(), {"--tcp", std::to_string(port)});
  EXPECT_TRUE(WaitUntil([&] { return Lines(ReadText(sink.Output())).size() >= kEvents; }, 30s));
  host->Terminate();
  EXPECT_EQ(host->Wait(), 0) << ReadText(Dir() / "host.err");
  const std::multiset<std::int64_t> received = SeqsOf(sink.Stop());
  EXPECT_EQ(received.size(), kEvents);
  EXPECT_EQ(std::set<std::int64_t>(received.begin(), received.end()).size(), kEvents);
  const std::string traced = ReadText(trace);
  EXPECT_NE(traced.find("disk I/O error"), std::string::npos) << traced.substr(0, 2000);
  const boost::json::object summary = ReadJson(Dir() / "summary.json");
  EXPECT_GT(Number(summary, "spoolFailures"), 0);
  EXPECT_EQ(Number(summary, "lost"), 0);
  EXPECT_NE(ReadText(Dir() / "host.err").find("cannot be written or read"), std::string::npos);
  // Rows whose deletion the full disk refused stay behind, sent once.
  if (Number(ReadJson(Dir() / "summary.json"), "leftInSpool") != 0) {
    EXPECT_NE(traced.find("not read again until deleted"), std::string::npos);
  }
}

// The spool cannot be made (its folder is a link to nowhere) and no
// endpoint answers: the host says so on standard error while its input is
// still open, counts every event lost and exits with 4. Once the spool can
// be written and the endpoint answers, the account of a run adds up to what
// arrived, and it exits with 0.
TEST_F(FaultInjectionTest, EveryEventIsAccountedForAndALossSetsTheExitCode) {
  constexpr std::uint64_t kEvents = 500;
  const std::int64_t port = FreePort();
  const std::filesystem::path config = ExampleConfig(Dir(), "TCP", port);
  std::filesystem::create_directories(Dir() / "data-TCP");
  std::filesystem::create_symlink(Dir() / "nowhere", Dir() / "data-TCP" / "queues");
  const std::unique_ptr<ChildProcess> host = StartHost(config, {"--linger", "1"});
  std::string events;
  for (std::uint64_t seq = 0; seq < kEvents; ++seq) events += NumberedEvent(seq);
  EXPECT_TRUE(WriteAll(events));
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadText(Dir() / "host.err").find("cannot be written or read") != std::string::npos; }, 20s))
      << ReadText(Dir() / "host.err");
  EXPECT_TRUE(host->Running());
  ::close(m_fifo);
  m_fifo = -1;
  EXPECT_EQ(host->Wait(), 4) << ReadText(Dir() / "host.err");
  boost::json::object summary = ReadJson(Dir() / "summary.json");
  EXPECT_EQ(Number(summary, "handedOver"), static_cast<std::int64_t>(kEvents));
  EXPECT_EQ(Number(summary, "delivered"), 0);
  EXPECT_EQ(Number(summary, "lost"), static_cast<std::int64_t>(kEvents));
  EXPECT_EQ(Number(summary, "lostUnspooled"), static_cast<std::int64_t>(kEvents));
  EXPECT_GT(Number(summary, "spoolFailures"), 0);
  EXPECT_NE(ReadText(Dir() / "host.err").find("500 events lost"), std::string::npos);

  std::filesystem::remove(Dir() / "data-TCP" / "queues");
  SinkProcess sink(Dir(), {"--tcp", std::to_string(port)});
  const std::filesystem::path input = Dir() / "events.ndjson";
  WriteText(input, events);
  EXPECT_EQ(RunHost(Dir(), config, input.string(), {"--linger", "3"}), 0) << ReadText(Dir() / "host.err");
  summary = ReadJson(Dir() / "summary.json");
  EXPECT_EQ(Number(summary, "delivered"), static_cast<std::int64_t>(kEvents));
  EXPECT_EQ(Number(summary, "lost"), 0);
  EXPECT_EQ(Number(summary, "leftInSpool"), 0);
  EXPECT_EQ(SeqsOf(sink.Stop()).size(), kEvents);
}

// Spool files damaged while nothing ran: one overwritten with garbage, one
// cut in half, one replaced by another program's database, one with a page
// in the middle overwritten. The next run repairs what it can: the other
// partitions and every row still readable arrive, once, and nothing else.
TEST_F(FaultInjectionTest, DamagedSpoolFilesGiveUpOnlyTheirUnreadableRows) {
  constexpr std::uint64_t kEvents = 6000;
  const std::int64_t port = FreePort();
  const std::filesystem::path config = ExampleConfig(
      Dir(), "TCP", port, "\"persistentTelemetryPartSize\":1,\"persistentTelemetryPartCount\":100");
  // Fed in small pieces, so that the spool's inserts are small and its
  // partitions many.
  const std::unique_ptr<ChildProcess> host = StartHost(config, {"--linger", "1"});
  const std::atomic<bool> stop = false;
  EXPECT_EQ(Feed(kEvents, 200, 30ms, stop, 1000), kEvents);
  // Nothing lost and nothing delivered: all of it waits in the spool.
  ASSERT_EQ(host->Wait(), 5) << ReadText(Dir() / "host.err");
  ASSERT_EQ(Number(ReadJson(Dir() / "summary.json"), "leftInSpool"), static_cast<std::int64_t>(kEvents));

  const std::vector<std::filesystem::path> files = SpoolFiles(Dir() / "data-TCP");
  ASSERT_GE(files.size(), 5u);
  std::vector<std::multiset<std::int64_t>> before;
  for (const std::filesystem::path& file : files) before.push_back(SeqsOf(SpooledIn(file)));
  std::mt19937 random(7);
  const auto garbage = [&](std::size_t size) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
  };
  for (const std::filesystem::path& file : files) {
    std::filesystem::remove(file.string() + "-wal");
    std::filesystem::remove(file.string() + "-shm");
  }
  WriteText(files[0], garbage(std::filesystem::file_size(files[0])));
  std::filesystem::resize_file(files[1], std::filesystem::file_size(files[1]) / 2);
  std::filesystem::remove(files[2]);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(files[2].c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT); INSERT INTO notes (body) "
                               "VALUES ('not telemetry');", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  {
    std::fstream file(files[3], std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(std::filesystem::file_size(files[3]) / 2 / 4096 * 4096));
    const std::string page = garbage(4096);
    file.write(page.data(), page.size());
  }

  SinkProcess sink(Dir(), {"--tcp", std::to_string(port)});
  WriteText(Dir() / "none.ndjson", "");
  // The rows the damage took are lost, and said to be.
  ASSERT_EQ(RunHost(Dir(), config, (Dir() / "none.ndjson").string(), {"--linger", "3"}), 4)
      << ReadText(Dir() / "host.err");
  const boost::json::object summary = ReadJson(Dir() / "summary.json");
  EXPECT_EQ(Number(summary, "leftInSpool"), 0);
  EXPECT_GT(Number(summary, "lostInSpool"), 0);
  const std::multiset<std::int64_t> received = SeqsOf(sink.Stop());
  EXPECT_EQ(std::set<std::int64_t>(received.begin(), received.end()).size(), received.size()) << "sent twice";
  std::multiset<std::int64_t> intact;
  for (std::size_t i = 4; i < files.size(); ++i) intact.insert(before[i].begin(), before[i].end());
  for (const std::int64_t seq : intact) EXPECT_EQ(received.count(seq), 1u) << seq;
  for (const std::int64_t seq : received) {
    EXPECT_TRUE(seq >= 0 && seq < static_cast<std::int64_t>(kEvents)) << seq;
  }
  std::uint64_t fromTruncated = 0, fromDamagedPage = 0;
  for (const std::int64_t seq : before[1]) fromTruncated += received.count(seq);
  for (const std::int64_t seq : before[3]) fromDamagedPage += received.count(seq);
  std::cout << "of " << before[1].size() << " rows in the truncated file " << fromTruncated << " arrived; of "
            << before[3].size() << " in the file with a damaged page " << fromDamagedPage << "\n";
  EXPECT_GT(fromTruncated, 0u);
  EXPECT_GT(fromDamagedPage, 0u);
}

}  // namespace
