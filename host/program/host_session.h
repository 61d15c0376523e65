#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>

#include "host/program/followed_file.h"
#include "host/program/host_configuration.h"
#include "host/program/host_options.h"
#include "host/program/run_summary.h"

namespace reference_host {

class FollowCheckpoint;
class Tracer;

// One run of the host program: the host's services, the component's three
// objects, the task started with the configuration, the events handed over
// as the host's producer hands them, the linger, the stop and the summary.
class HostSession {
 public:
  // Exit codes.
  static constexpr int kDone = 0;
  static constexpr int kBadInput = 2;
  static constexpr int kComponentFailed = 3;
  // Events were lost (see the summary's "lost").
  static constexpr int kEventsLost = 4;
  // Nothing was lost, but there were events to deliver and none was: they
  // are in the spool, for the next run.
  static constexpr int kNothingDelivered = 5;

  // `stopRequested` is set from a signal handler: reading and lingering end
  // early, and the stop is as orderly as at the end of the input.
  HostSession(HostOptions options, HostConfiguration configuration, const std::atomic<bool>& stopRequested);

  int Run();
  // --check: the task takes the configuration (rules, certificates) without
  // a start, every endpoint resolves, and the plan is printed; nothing is
  // sent and the data folder is not touched. kDone or kBadInput.
  int Check();

 private:
  // Hands over the lines of the followed file until a stop is requested,
  // storing the checkpoint at places handed over `settleWindow` ago;
  // returns the place after the last line read.
  FollowedFile::Position Follow(FollowedFile& followed, const FollowCheckpoint& checkpoint,
                                std::chrono::steady_clock::duration settleWindow, const RunSummary& summary,
                                const std::function<void(const std::string&)>& handOver, Tracer& tracer);
  void ShowProgress(const RunSummary& summary, bool final);
  // Says on standard error, once, that the spool failed, if the task's
  // counts show it. Called on one thread at a time.
  void WatchSpool();
  // The exit code for a run that went to its end.
  static int ExitCode(const RunSummary& summary);

  const HostOptions m_options;
  const HostConfiguration m_configuration;
  const std::atomic<bool>& m_stopRequested;
  const bool m_progress;
  // The last connection event for the progress line: kNoConnectionEvent,
  // kConnected, or the reason of a connection error.
  static constexpr std::uint32_t kNoConnectionEvent = 0xFFFFFFFF;
  static constexpr std::uint32_t kConnected = 0xFFFFFFFE;
  std::atomic<std::uint32_t> m_connection{kNoConnectionEvent};
  std::chrono::steady_clock::time_point m_started;
  std::chrono::steady_clock::time_point m_lastProgress;
  std::optional<std::chrono::steady_clock::time_point> m_inputEnded;
  // Reads the task's counts into a summary, while the task is there.
  std::function<bool(RunSummary&)> m_readCounts;
  bool m_spoolFailureReported = false;
};

}  // namespace reference_host
