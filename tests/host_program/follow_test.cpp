// The host program's follow mode against the loopback sink, as processes: a
// file that grows in bursts, is rotated and truncated, and a host killed and
// restarted on it. Every event is numbered, so that each one in and out is
// accounted for.

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "host/program/follow_checkpoint.h"
#include "host/program/followed_file.h"
#include "host/program/settling_positions.h"
#include "host_program_support.h"
#include "sink_process.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;

class FollowTest : public ::testing::Test {
 protected:
  FollowTest() : m_sink(m_dir.Path(), {"--tcp", "0", "--connection-numbers"}) {
    m_config = ExampleConfig(m_dir.Path(), "TCP", m_sink.Port("tcp"));
  }

  const std::filesystem::path& Dir() const { return m_dir.Path(); }
  std::filesystem::path Log() const { return Dir() / "app.log"; }
  std::filesystem::path Checkpoint() const { return Dir() / "data-TCP" / "follow.checkpoint"; }

  std::unique_ptr<ChildProcess> StartHost() {
    ChildProcess::Options options;
    options.stdoutFile = Dir() / "host.out";
    options.stderrFile = Dir() / "host.err";
    return std::make_unique<ChildProcess>(
        EDR_TELEMETRY_HOST_PATH,
        std::vector<std::string>{"--config", m_config.string(), "--follow", Log().string(), "--summary-json",
                                 (Dir() / "summary.json").string(), "--component", EDR_COMPONENT_PATH,
                                 "--trace-level", "300", "--trace-file", (Dir() / "trace.log").string()},
        options);
  }
  // Stops the host as a service manager would and returns its summary.
  boost::json::object StopHost(ChildProcess& host) {
    host.Terminate();
    EXPECT_EQ(host.WaitFor(60s), 0) << ReadText(Dir() / "host.err");
    return ReadJson(Dir() / "summary.json");
  }

  // Appends events [first, last) to `file` with their line feeds.
  static void Append(const std::filesystem::path& file, std::uint64_t first, std::uint64_t last) {
    std::string lines;
    for (std::uint64_t seq = first; seq < last; ++seq) lines += NumberedEvent(seq);
    std::ofstream(file, std::ios::app | std::ios::binary) << lines;
  }
  // Until the sink holds `count` different events; returns what it holds.
  std::multiset<std::int64_t> Received(std::size_t count) {
    std::multiset<std::int64_t> seqs;
    WaitUntil(
        [&] {
          seqs = SeqsOf(m_sink.Received());
          return std::set<std::int64_t>(seqs.begin(), seqs.end()).size() >= count;
        },
        30s);
    return seqs;
  }
  static void ExpectEachOnce(const std::multiset<std::int64_t>& seqs, std::int64_t count) {
    EXPECT_EQ(static_cast<std::int64_t>(seqs.size()), count);
    for (std::int64_t seq = 0; seq < count; ++seq) EXPECT_EQ(seqs.count(seq), 1u) << seq;
  }

  TempDirectory m_dir;
  SinkProcess m_sink;
  std::filesystem::path m_config;
};

// The file appears after the host started, grows in bursts, ends for a while
// in half a line, is rotated by rename (its writer adding to it after the
// rename), and truncated: every event arrives once, in order connection by
// connection. (--follow is one input, --events the other, never both.)
TEST_F(FollowTest, BurstsRotationAndTruncationLoseAndRepeatNothing) {
  ChildProcess::Options quiet;
  quiet.stderrFile = Dir() / "both.err";
  EXPECT_EQ(ChildProcess(EDR_TELEMETRY_HOST_PATH,
                         {"--config", m_config.string(), "--events", "-", "--follow", Log().string()}, quiet)
                .Wait(),
            2);
  EXPECT_NE(ReadText(Dir() / "both.err").find("--follow: not with --events"), std::string::npos);

  const std::unique_ptr<ChildProcess> host = StartHost();
  const std::filesystem::path maps = "/proc/" + std::to_string(host->Pid()) + "/maps";
  EXPECT_TRUE(WaitUntil([&] { return ReadText(maps).find("libedr_telemetry") != std::string::npos; }));
  std::this_thread::sleep_for(300ms);
  for (std::uint64_t burst = 0; burst < 4; ++burst) {
    Append(Log(), burst * 500, burst * 500 + 500);
    std::this_thread::sleep_for(150ms);
  }
  EXPECT_EQ(Received(2000).size(), 2000u);

  // Half a line is not an event yet (handed over, it would count as
  // malformed).
  const std::string half = NumberedEvent(2000);
  std::ofstream(Log(), std::ios::app | std::ios::binary) << half.substr(0, half.size() / 2);
  std::this_thread::sleep_for(500ms);
  std::ofstream(Log(), std::ios::app | std::ios::binary) << half.substr(half.size() / 2);
  Append(Log(), 2001, 2500);

  // Rotation: the writer finishes a last burst into the renamed file before
  // it opens a new one.
  const std::filesystem::path rotated = Dir() / "app.log.1";
  std::filesystem::rename(Log(), rotated);
  Append(rotated, 2500, 3000);
  Append(Log(), 3000, 3500);
  EXPECT_EQ(Received(3500).size(), 3500u);

  // Truncation to less than was read, then the file grows again.
  std::filesystem::resize_file(Log(), 0);
  Append(Log(), 3500, 3600);
  EXPECT_EQ(Received(3600).size(), 3600u);
  Append(Log(), 3600, 4000);
  Received(4000);

  const boost::json::object summary = StopHost(*host);
  EXPECT_EQ(Number(summary, "handedOver"), 4000);
  EXPECT_EQ(Number(summary, "malformed"), 0);
  const std::vector<std::string> lines = m_sink.Stop();
  ExpectEachOnce(SeqsOf(lines), 4000);
  // Each pass sends on a connection of its own, closed before the next opens;
  // the sink may read a new connection before the rest of the old one, so
  // the order is that of the connections, each one's events in order.
  std::vector<std::pair<std::int64_t, std::int64_t>> order;  // connection, seq
  for (const std::string& line : lines) order.emplace_back(std::stoll(line), SeqOf(line));
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.second < b.second; }));
  // The truncation left no copy: whether anything was written after the last
  // read cannot be known, and the operator hears so.
  EXPECT_EQ(ReadText(Dir() / "host.err"),
            "edr-telemetry-host: " + Log().string() +
                " was truncated with no copy of it beside it: lines written to it after the last read and before "
                "the truncation, if any, could not be read\n");
  EXPECT_EQ(Number(summary, "unrecoveredTruncations"), 1);
}

// The host is killed in the middle of a stream, with events in its queue
// that no endpoint has taken yet; while it is down the file grows and is
// rotated. The checkpoint lags what was handed over by the time the
// component takes to send or spool it, so the restart hands over again what
// the killed queue held: every event arrives, and the restart hands over
// exactly the lines after the checkpoint. After an orderly stop the
// checkpoint names the end. A checkpoint that names a file gone since, or
// that cannot be read, starts the file from its start with a warning.
TEST_F(FollowTest, ARestartGoesOnFromTheCheckpoint) {
  // Packages go out every 2 s, not as soon as one is full, so that the
  // kill finds up to 2 s of events queued. Settles in 2 x 2 s + 1 s +
  // 100 ms + 100 ms = 5.2 s.
  m_config = ExampleConfig(Dir(), "TCP", m_sink.Port("tcp"),
                           "\"maximumDataTransferTime\":2,\"maximumNumberOfEventsInPackage\":100000,"
                           "\"timeoutConnection\":100,\"timeoutRequest\":100");
  std::unique_ptr<ChildProcess> host = StartHost();
  std::uint64_t written = 0;
  for (const auto until = std::chrono::steady_clock::now() + 7s; std::chrono::steady_clock::now() < until;) {
    Append(Log(), written, written + 50);
    written += 50;
    std::this_thread::sleep_for(50ms);
  }
  host->Signal(SIGKILL);
  EXPECT_EQ(host->Wait(), 128 + SIGKILL);
  const std::size_t sentBeforeKill = SeqsOf(m_sink.Received()).size();
  const std::int64_t killedAt = Number(ReadJson(Checkpoint()), "offset");
  std::uint64_t settledLines = 0;
  for (std::int64_t bytes = 0; bytes < killedAt; bytes += static_cast<std::int64_t>(NumberedEvent(settledLines).size()))
    ++settledLines;
  EXPECT_GT(settledLines, 0u) << "the checkpoint never settled";
  EXPECT_LT(settledLines, written) << "the checkpoint did not lag";

  const std::uint64_t beforeRotation = written + 500, total = written + 1000;
  Append(Log(), written, beforeRotation);
  std::filesystem::rename(Log(), Dir() / "app.log-20261207");
  Append(Log(), beforeRotation, total);
  host = StartHost();
  Received(total);
  boost::json::object summary = StopHost(*host);
  EXPECT_EQ(Number(summary, "handedOver"), static_cast<std::int64_t>(total - settledLines));
  EXPECT_EQ(Number(ReadJson(Checkpoint()), "offset"), static_cast<std::int64_t>(std::filesystem::file_size(Log())));
  std::multiset<std::int64_t> seqs = SeqsOf(m_sink.Received());
  EXPECT_EQ(std::set<std::int64_t>(seqs.begin(), seqs.end()).size(), total);
  std::cout << written << " lines streamed, " << sentBeforeKill << " sent before the kill, " << settledLines
            << " before the checkpoint; " << static_cast<std::int64_t>(seqs.size() - std::min<std::size_t>(seqs.size(), total))
            << " arrived twice\n";
  EXPECT_EQ(ReadText(Dir() / "host.err"), "");

  // The file the checkpoint names is replaced by another and the rotated
  // one removed.
  WriteText(Dir() / "app.log.new", "");
  Append(Dir() / "app.log.new", total, total + 100);
  std::filesystem::rename(Dir() / "app.log.new", Log());
  std::filesystem::remove(Dir() / "app.log-20261207");
  host = StartHost();
  Received(total + 100);
  summary = StopHost(*host);
  EXPECT_EQ(Number(summary, "handedOver"), 100);
  EXPECT_NE(ReadText(Dir() / "host.err").find("names a file that is gone"), std::string::npos)
      << ReadText(Dir() / "host.err");
  EXPECT_NE(ReadText(Dir() / "trace.log").find("names a file that is gone"), std::string::npos);

  // A damaged checkpoint: from the start again, the only way not to skip.
  WriteText(Checkpoint(), "{\"device\":1,\"ino");
  host = StartHost();
  EXPECT_TRUE(WaitUntil([&] { return SeqsOf(m_sink.Received()).count(total + 99) == 2; }, 30s));
  summary = StopHost(*host);
  EXPECT_EQ(Number(summary, "handedOver"), 100);
  EXPECT_NE(ReadText(Dir() / "host.err").find("checkpoint"), std::string::npos) << ReadText(Dir() / "host.err");
  seqs = SeqsOf(m_sink.Stop());
  for (std::int64_t seq = 0; seq < static_cast<std::int64_t>(total + 100); ++seq) EXPECT_GE(seqs.count(seq), 1u) << seq;
}

// What a process test cannot reach cheaply: a checkpoint replaced whole, and
// every way a checkpoint file can be unreadable.
TEST(FollowCheckpoint, ReplacedWholeAndRefusedWhenDamaged) {
  const TempDirectory dir;
  const reference_host::FollowCheckpoint checkpoint(dir.Path() / "follow.checkpoint");
  EXPECT_FALSE(checkpoint.Load());
  const reference_host::FollowedFile::Position first{1, 2, 3, "/var/log/a"};
  const reference_host::FollowedFile::Position second{4, 18446744073709551615u, 6, "/var/log/b"};
  checkpoint.Store(first);
  EXPECT_EQ(checkpoint.Load(), first);
  checkpoint.Store(second);
  EXPECT_EQ(checkpoint.Load(), second);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"follow.checkpoint"}) << "no temporary file left behind";

  for (const std::string text :
       {"", "garbage", "[1,2]", "{\"device\":1,\"inode\":2}", "{\"device\":1,\"inode\":2,\"offset\":-3}",
        "{\"device\":1,\"inode\":\"2\",\"offset\":3}", "{\"device\":1,\"inode\":2,\"offset\":3.5}"}) {
    WriteText(checkpoint.File(), text);
    EXPECT_THROW(checkpoint.Load(), reference_host::FollowCheckpoint::Error) << text;
  }
  // A folder that is gone: the store says so rather than claiming a place.
  const reference_host::FollowCheckpoint nowhere(dir.Path() / "gone" / "follow.checkpoint");
  EXPECT_THROW(nowhere.Store(first), reference_host::FollowCheckpoint::Error);
}

// The lines a FollowedFile gives until it has nothing more for now.
std::vector<std::string> ReadAvailable(reference_host::FollowedFile& file) {
  std::vector<std::string> lines;
  for (std::string line; file.Next(line) == reference_host::FollowedFile::Read::kLine;) lines.push_back(line);
  return lines;
}

void Append(const std::filesystem::path& path, int first, int last) {
  std::ofstream out(path, std::ios::app);
  for (int n = first; n <= last; ++n) out << "line " << n << "\n";
}

std::vector<std::string> Numbered(int first, int last) {
  std::vector<std::string> lines;
  for (int n = first; n <= last; ++n) lines.push_back("line " + std::to_string(n));
  return lines;
}

// The place a reader reached is in a file renamed away three rotations ago:
// a restart finishes that file, then every file renamed after it, oldest
// first, then the file at the path; an older rotated file stays unread.
TEST(FollowedFile, ARestartReadsEveryFileRenamedSinceItsPlaceInOrder) {
  const TempDirectory dir;
  const std::filesystem::path path = dir.Path() / "events.log";
  const auto base = std::filesystem::file_time_type::clock::now() - 1h;
  Append(dir.Path() / "events.log.0", 100, 101);
  std::filesystem::last_write_time(dir.Path() / "events.log.0", base - 1min);
  const std::atomic<bool> stop{false};
  Append(path, 0, 2);
  reference_host::FollowedFile::Position reached;
  {
    reference_host::FollowedFile first(path, stop);
    std::string line;
    ASSERT_EQ(first.Next(line), reference_host::FollowedFile::Read::kLine);
    reached = first.Consumed();
  }
  for (int k = 1; k <= 3; ++k) {
    const std::filesystem::path rotated = dir.Path() / ("events.log." + std::to_string(k));
    std::filesystem::rename(path, rotated);
    std::filesystem::last_write_time(rotated, base + std::chrono::minutes(k));
    Append(path, 3 * k, 3 * k + 2);
  }
  reference_host::FollowedFile second(path, stop);
  ASSERT_TRUE(second.ResumeAt(reached));
  EXPECT_EQ(ReadAvailable(second), Numbered(1, 11));
}

// A copy of the file is taken and the file truncated (copytruncate): what it
// held past the last read comes from the copy, then the file from its start.
// Without a copy the loss is counted.
TEST(FollowedFile, ATruncatedFileIsReadOnFromItsCopyAndALossWithoutOneIsCounted) {
  const TempDirectory dir;
  const std::filesystem::path path = dir.Path() / "events.log";
  const std::atomic<bool> stop{false};
  Append(path, 0, 2);
  reference_host::FollowedFile file(path, stop);
  EXPECT_EQ(ReadAvailable(file), Numbered(0, 2));
  Append(path, 3, 4);
  std::filesystem::copy_file(path, dir.Path() / "events.log.1");
  std::filesystem::resize_file(path, 0);
  Append(path, 5, 5);
  EXPECT_EQ(ReadAvailable(file), Numbered(3, 5));
  EXPECT_EQ(file.UnrecoveredTruncations(), 0u);

  Append(path, 6, 7);
  EXPECT_EQ(ReadAvailable(file), Numbered(6, 7));
  Append(path, 8, 8);
  std::filesystem::resize_file(path, 0);
  Append(path, 9, 9);
  EXPECT_EQ(ReadAvailable(file), Numbered(9, 9));
  EXPECT_EQ(file.UnrecoveredTruncations(), 1u);
}

// A place settles once the window has passed since it was first handed
// over, the latest such place wins, and each settles once.
TEST(SettlingPositions, TheLatestPlaceOlderThanTheWindowSettlesOnce) {
  using reference_host::FollowedFile;
  const auto t0 = reference_host::SettlingPositions::Clock::time_point{};
  reference_host::SettlingPositions places(4s);
  const FollowedFile::Position a{1, 2, 100, "a"}, b{1, 2, 200, "a"}, rotated{1, 3, 50, "b"};
  places.Add(t0, a);
  places.Add(t0 + 1s, b);
  places.Add(t0 + 3s, b);  // noted again when quiet: keeps its first time
  places.Add(t0 + 3s, rotated);
  EXPECT_EQ(places.Settled(t0 + 3999ms), std::nullopt);
  EXPECT_EQ(places.Settled(t0 + 5s), b);
  EXPECT_EQ(places.Settled(t0 + 6s), std::nullopt);
  EXPECT_EQ(places.Settled(t0 + 7s), rotated);
}

}  // namespace
