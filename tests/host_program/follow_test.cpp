// The host program's follow mode against the loopback sink, as processes: a
// file that grows in bursts, is rotated and truncated, and a host killed and
// restarted on it. Every event is numbered, so that each one in and out is
// accounted for.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "host/program/follow_checkpoint.h"
#include "host_program_support.h"
#include "sink_process.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;

class FollowTest : public ::testing::Test {
 protected:
  FollowTest() : m_sink(m_dir.Path(), {"--tcp", "0"}) {
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
// rename), and truncated: every event arrives once, in order. (--follow is
// one input, --events the other, never both.)
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
  std::vector<std::int64_t> order;
  for (const std::string& line : lines) order.push_back(SeqOf(line));
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(ReadText(Dir() / "host.err"), "");
}

// The host is killed while it follows the file; while it is down the file
// grows and is rotated. The restart finishes the rotated file from the
// checkpoint, then the new one from its start: every event arrives, and no
// line is handed over twice. A checkpoint that names a file gone since, or
// that cannot be read, starts the file from its start with a warning.
TEST_F(FollowTest, ARestartGoesOnFromTheCheckpoint) {
  constexpr std::uint64_t kPackage = 500;
  m_config = ExampleConfig(Dir(), "TCP", m_sink.Port("tcp"),
                           "\"maximumNumberOfEventsInPackage\":" + std::to_string(kPackage));
  std::unique_ptr<ChildProcess> host = StartHost();
  Append(Log(), 0, 1000);
  Received(1000);
  // Killed once the checkpoint caught up, as it does whenever the file is
  // quiet for a moment.
  EXPECT_TRUE(WaitUntil([&] {
    return Number(ReadJson(Checkpoint()), "offset") == static_cast<std::int64_t>(std::filesystem::file_size(Log()));
  }));
  host->Signal(SIGKILL);
  EXPECT_EQ(host->Wait(), 128 + SIGKILL);
  const boost::json::object killedAt = ReadJson(Checkpoint());

  Append(Log(), 1000, 1500);
  std::filesystem::rename(Log(), Dir() / "app.log-20261207");
  Append(Log(), 1500, 2000);
  host = StartHost();
  Received(2000);
  Append(Log(), 2000, 2100);
  Received(2100);
  boost::json::object summary = StopHost(*host);
  // The lines before the checkpoint and the lines of this run are all lines.
  std::size_t before = 0;
  for (std::uint64_t seq = 0; seq < 1000; ++seq) before += NumberedEvent(seq).size();
  EXPECT_EQ(Number(killedAt, "offset"), static_cast<std::int64_t>(before));
  EXPECT_EQ(Number(summary, "handedOver"), 1100);
  std::multiset<std::int64_t> seqs = SeqsOf(m_sink.Received());
  EXPECT_EQ(std::set<std::int64_t>(seqs.begin(), seqs.end()).size(), 2100u);
  EXPECT_LE(seqs.size() - 2100, kPackage) << "sent again beyond one package";
  EXPECT_EQ(ReadText(Dir() / "host.err"), "");

  // The file the checkpoint names is replaced by another and the rotated
  // one removed.
  WriteText(Dir() / "app.log.new", "");
  Append(Dir() / "app.log.new", 2100, 2200);
  std::filesystem::rename(Dir() / "app.log.new", Log());
  std::filesystem::remove(Dir() / "app.log-20261207");
  host = StartHost();
  Received(2200);
  summary = StopHost(*host);
  EXPECT_EQ(Number(summary, "handedOver"), 100);
  EXPECT_NE(ReadText(Dir() / "host.err").find("names a file that is gone"), std::string::npos)
      << ReadText(Dir() / "host.err");
  EXPECT_NE(ReadText(Dir() / "trace.log").find("names a file that is gone"), std::string::npos);

  // A damaged checkpoint: from the start again, the only way not to skip.
  WriteText(Checkpoint(), "{\"device\":1,\"ino");
  host = StartHost();
  EXPECT_TRUE(WaitUntil([&] { return SeqsOf(m_sink.Received()).count(2199) == 2; }, 30s));
  summary = StopHost(*host);
  EXPECT_EQ(Number(summary, "handedOver"), 100);
  EXPECT_NE(ReadText(Dir() / "host.err").find("checkpoint"), std::string::npos) << ReadText(Dir() / "host.err");
  seqs = SeqsOf(m_sink.Stop());
  for (std::int64_t seq = 0; seq < 2200; ++seq) EXPECT_GE(seqs.count(seq), 1u) << seq;
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

}  // namespace
