// A host that tortures the module. Round after round it loads the module with
// dlopen and, from several host threads at once, starts, stops, pauses and
// reconfigures tasks, fires the response server, adds and removes consumers
// and hands over events, while its connection sinks and consumers-changed
// listeners call the tasks and the manager back. A round ends with every task
// stopped and released and the module unloaded, then loaded again.
//
// The first round is calm: one host thread drives, one at a time, the two
// paths that chaos reaches only by luck (a task stopped while a notification
// round holds its start handler; a task stopped from its own sending thread
// just before the unload); the others drive everything at once.
//
// It fails on a hang (with every thread's stack), on a task's client that
// still runs after the task's Stop returned, on a thread of the module left
// after unloading it, on a module that never answers that it can be
// unloaded, and on an accepted event that neither arrived at the loopback
// receiver nor is in the spool. Crashes and sanitizer reports end it by
// themselves. Refused settings, NotFound and NotSupported are answers, not
// failures.
//
//   host_torture_tests [--seconds N] [--seed S] [--threads T] [--module PATH] [--keep-going]
//
// It stops after the first round that failed, unless --keep-going: then a
// failed round's objects, and the module when it was not unloaded, are left as
// they are and the next round loads it again.

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/class_ids.h"
#include "component/oru/i_connected_sink.h"
#include "component/oru/i_connection_error_sink.h"
#include "component/oru/i_incorrect_settings_sink.h"
#include "component/oru/i_response_server_event_handler.h"
#include "component/oru/i_task.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_entry_points.h"
#include "component/oru/ref_ptr.h"
#include "component/oru/result_code.h"
#include "component/oru/service_ids.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumer.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_changed_event.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"
#include "host/client_certificate_decryptor.h"
#include "host/data_folder_service.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"

namespace {

using namespace std::chrono_literals;
namespace edr = sendara::edr_telemetry;
using edr::task::EdrTelemetryTaskSettings;
using Clock = std::chrono::steady_clock;
using Handler = oru::IResponseServerEventHandler;

struct Options {
  int seconds = 20;
  std::uint64_t seed = 1;
  int threads = 4;
  std::string module = EDR_TELEMETRY_MODULE_PATH;
  bool keepGoing = false;
};

constexpr int kTasks = 3;
constexpr int kHostConsumers = 2;
constexpr int kEventTypes = 4;
// Longer than any call into the module may take when nothing is stuck.
constexpr auto kHangLimit = 30s;

std::uint64_t g_seed = 1;
const Clock::time_point g_begun = Clock::now();
std::atomic<std::uint64_t> g_lastSequence{0};
std::atomic<int> g_failures{0};
// A failed round left the module loaded (--keep-going).
bool g_moduleLeftLoaded = false;
// A thread of the test's own, and how deep the module has called into the
// test's host code on this thread.
thread_local bool t_hostThread = false;
thread_local int t_inHostCode = 0;

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  char text[4096];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "[%8.3f] %s\n", std::chrono::duration<double>(Clock::now() - g_begun).count(), text);
}

void Fail(const std::string& what) {
  ++g_failures;
  Log("FAIL: %s", what.c_str());
}

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : m_engine(seed) {}
  std::uint64_t Below(std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_engine); }
  bool Percent(std::uint64_t p) { return Below(100) < p; }
  std::mt19937_64& Engine() { return m_engine; }

 private:
  std::mt19937_64 m_engine;
};

// For host code the module calls, on whatever thread.
Rng& ThreadRng() {
  thread_local Rng rng(g_seed * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(::gettid()));
  return rng;
}

struct InHostCode {
  InHostCode() { ++t_inHostCode; }
  ~InHostCode() { --t_inHostCode; }
};

// A call the test's host code makes in order, not as a callback: only then
// does the module's answer order what happens afterwards.
bool OrderedCaller() { return t_hostThread && t_inHostCode == 0; }

void Pause(std::chrono::microseconds duration) { std::this_thread::sleep_for(duration); }

// ---------------------------------------------------------------------------
// Watchdog: host threads mark every call into the module; one that has not
// returned after kHangLimit, or a run past its deadline, has gdb print every
// thread's stack, and the test aborts.

struct WatchSlot {
  std::atomic<std::int64_t> sinceMs{0};
  std::atomic<const char*> what{""};
};
WatchSlot g_slots[64];
thread_local WatchSlot* t_slot = nullptr;
thread_local int t_callDepth = 0;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

class Call {
 public:
  explicit Call(const char* what) {
    if (t_slot && t_callDepth++ == 0) {
      t_slot->what = what;
      t_slot->sinceMs = NowMs();
    }
  }
  ~Call() {
    if (t_slot && --t_callDepth == 0) t_slot->sinceMs = 0;
  }
};

[[noreturn]] void DumpStacksAndAbort(const std::string& why) {
  Log("HANG: %s; every thread's stack follows", why.c_str());
  const std::string pid = std::to_string(::getpid());
  const char* argv[] = {"timeout", "180", "gdb", "-p", pid.c_str(), "-batch", "-nx", "-ex", "set pagination off",
                        "-ex", "thread apply all bt", nullptr};
  pid_t child = 0;
  if (::posix_spawnp(&child, "timeout", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
    int status = 0;
    ::waitpid(child, &status, 0);
  } else {
    Log("gdb could not be started");
  }
  Log("FAIL: hang: %s", why.c_str());
  std::abort();
}

class Watchdog {
 public:
  explicit Watchdog(Clock::time_point deadline) : m_deadline(deadline), m_thread([this] { Run(); }) {}
  ~Watchdog() {
    m_stop = true;
    m_thread.join();
  }

 private:
  void Run() {
    while (!m_stop) {
      std::this_thread::sleep_for(200ms);
      for (const WatchSlot& slot : g_slots) {
        const std::int64_t since = slot.sinceMs;
        if (since != 0 && NowMs() - since > std::chrono::milliseconds(kHangLimit).count()) {
          DumpStacksAndAbort(std::string("a host thread's call ") + slot.what.load() + " has not returned for " +
                             std::to_string((NowMs() - since) / 1000) + " s");
        }
      }
      if (Clock::now() > m_deadline) DumpStacksAndAbort("the run went past its deadline");
    }
  }

  const Clock::time_point m_deadline;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// ---------------------------------------------------------------------------

// The process's threads by kernel id, with their names.
std::map<int, std::string> Threads() {
  std::map<int, std::string> threads;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::string name;
      std::getline(std::ifstream(std::string("/proc/self/task/") + entry->d_name + "/comm"), name);
      threads[std::atoi(entry->d_name)] = name;
    }
    ::closedir(dir);
  }
  return threads;
}

// Every sequence number S in a text, written "S#S#" in the events.
template <class F>
void ForEachSequence(std::string_view text, F&& f) {
  for (std::size_t at = text.find("S#"); at != std::string_view::npos; at = text.find("S#", at + 2)) {
    std::size_t end = at + 2;
    std::uint64_t sequence = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') sequence = sequence * 10 + (text[end++] - '0');
    if (end > at + 2 && end < text.size() && text[end] == '#') f(sequence);
  }
}

// The loopback syslog receiver of a round: ports that listen and ports that
// refuse connections (bound, never listening). Counts the events that arrive
// by sequence number, from whole lines only: a line cut short by a failed
// connection is sent again.
class Receiver {
 public:
  Receiver(int listening, int refusing) {
    for (int i = 0; i < listening + refusing; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t size = sizeof address;
      if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
          (i < listening && ::listen(fd, 64) != 0) ||
          ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no loopback socket");
      }
      (i < listening ? m_listeners : m_refusers).push_back(fd);
      (i < listening ? m_listening : m_refusing).push_back(ntohs(address.sin_port));
    }
    m_thread = std::thread([this] { Run(); });
  }
  ~Receiver() {
    m_stop = true;
    m_thread.join();
    for (const int fd : m_listeners) ::close(fd);
    for (const int fd : m_refusers) ::close(fd);
  }

  std::uint16_t Listening(int i) const { return m_listening[i]; }
  std::uint16_t Refusing(int i) const { return m_refusing[i]; }
  int OpenConnections() const { return m_open; }
  std::map<std::uint64_t, int> Arrived() {
    platform::MutexLock lock(&m_mutex);
    return m_arrived;
  }

 private:
  struct Connection {
    int fd;
    std::string pending;
  };

  void Run() {
    std::vector<Connection> connections;
    while (!m_stop) {
      std::vector<pollfd> fds;
      for (const int fd : m_listeners) fds.push_back({fd, POLLIN, 0});
      for (const Connection& connection : connections) fds.push_back({connection.fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), 50);
      for (const int fd : m_listeners) {
        for (int accepted; (accepted = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
          connections.push_back({accepted, {}});
          ++m_open;
        }
      }
      for (auto it = connections.begin(); it != connections.end();) {
        if (Read(*it)) {
          ++it;
        } else {
          ::close(it->fd);
          --m_open;
          it = connections.erase(it);
        }
      }
    }
    for (const Connection& connection : connections) ::close(connection.fd);
  }

  // False once the connection has ended.
  bool Read(Connection& connection) {
    bool open = true;
    for (char buffer[65536];;) {
      const ssize_t n = ::read(connection.fd, buffer, sizeof buffer);
      if (n > 0) {
        connection.pending.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
      break;
    }
    const std::size_t end = connection.pending.rfind('\n');
    if (end == std::string::npos) return open;
    std::vector<std::uint64_t> sequences;
    ForEachSequence(std::string_view(connection.pending).substr(0, end), [&](std::uint64_t s) { sequences.push_back(s); });
    connection.pending.erase(0, end + 1);
    platform::MutexLock lock(&m_mutex);
    for (const std::uint64_t sequence : sequences) ++m_arrived[sequence];
    return open;
  }

  std::vector<int> m_listeners, m_refusers;
  std::vector<std::uint16_t> m_listening, m_refusing;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_open{0};
  platform::Mutex m_mutex;
  std::map<std::uint64_t, int> m_arrived GUARDED_BY(m_mutex);
  std::thread m_thread;
};

// The host's response servers, as the component hears of them. A round of
// notifications holds every subscriber it is about to tell until it has told
// it, as a host that copies its list of subscribers does, and may do some
// work of the host's before it tells anybody. UnsubscribeAndWait waits for
// the rounds that hold the handler, unless on the round's own thread.
class ResponseServer final
    : public oru::BasicObject<ResponseServer, oru::UncountedObject, oru::IResponseServerEventSubscription> {
 public:
  oru::Result Subscribe(Handler* handler) noexcept override {
    if (!handler) return oru::rc::InvalidArgument;
    std::vector<std::pair<std::uint16_t, bool>> states;
    {
      platform::MutexLock lock(&m_mutex);
      m_handlers.emplace_back(handler);
      states.assign(m_states.begin(), m_states.end());
    }
    // A new subscriber hears the state of every integration known, at once.
    for (const auto& [integration, started] : states) handler->OnConnectionEvent(integration, started);
    return oru::rc::NoError;
  }
  oru::Result Unsubscribe(Handler* handler) noexcept override { return Remove(handler, false); }
  oru::Result UnsubscribeAndWait(Handler* handler) noexcept override { return Remove(handler, true); }

  // Tells every subscriber; `meanwhile` runs first, while the round holds them.
  void Notify(std::uint16_t integration, bool started, const std::function<void()>& meanwhile) {
    std::vector<oru::RefPtr<Handler>> handlers;
    std::list<Round>::iterator round;
    {
      platform::MutexLock lock(&m_mutex);
      m_states[integration] = started;
      handlers = m_handlers;
      round = m_rounds.insert(m_rounds.end(), {std::this_thread::get_id(), {}});
      for (const auto& handler : handlers) round->held.push_back(handler.Get());
    }
    if (meanwhile) meanwhile();
    for (oru::RefPtr<Handler>& handler : handlers) {
      handler->OnConnectionEvent(integration, started);
      {
        platform::MutexLock lock(&m_mutex);
        round->held.erase(std::find(round->held.begin(), round->held.end(), handler.Get()));
      }
      handler = nullptr;
      m_returned.NotifyAll();
    }
    platform::MutexLock lock(&m_mutex);
    m_rounds.erase(round);
  }
  // The host no longer knows the integration: a new subscriber hears nothing of it.
  void Forget(std::uint16_t integration) {
    platform::MutexLock lock(&m_mutex);
    m_states.erase(integration);
  }
  // The host's server goes away with whatever subscribers are left.
  void Clear() {
    std::vector<oru::RefPtr<Handler>> handlers;
    platform::MutexLock lock(&m_mutex);
    handlers.swap(m_handlers);
    lock.Unlock();
  }

 private:
  struct Round {
    std::thread::id thread;
    std::vector<Handler*> held;
  };

  oru::Result Remove(Handler* handler, bool wait) noexcept {
    oru::RefPtr<Handler> removed;
    platform::MutexLock lock(&m_mutex);
    const auto found = std::find_if(m_handlers.begin(), m_handlers.end(), [&](const auto& h) { return h.Get() == handler; });
    if (found == m_handlers.end()) return oru::rc::NotFound;
    removed = std::move(*found);
    m_handlers.erase(found);
    while (wait && HeldByAnotherThread(handler)) m_returned.Wait(&m_mutex);
    lock.Unlock();
    return oru::rc::NoError;
  }
  bool HeldByAnotherThread(Handler* handler) REQUIRES(m_mutex) {
    return std::any_of(m_rounds.begin(), m_rounds.end(), [&](const Round& round) {
      return round.thread != std::this_thread::get_id() &&
             std::find(round.held.begin(), round.held.end(), handler) != round.held.end();
    });
  }

  platform::Mutex m_mutex;
  platform::ConditionVariable m_returned;
  std::vector<oru::RefPtr<Handler>> m_handlers GUARDED_BY(m_mutex);
  std::map<std::uint16_t, bool> m_states GUARDED_BY(m_mutex);
  std::list<Round> m_rounds GUARDED_BY(m_mutex);
};

class Tracer;
class Sinks;
class Listener;
class HostConsumer;

// One load of the module: the host's services and the module's objects, the
// host threads that drive them, the unload, and the account of the events.
class Round {
 public:
  // A calm round runs the two probes alone.
  Round(const Options& options, int index, bool calm);
  ~Round();
  // False on a failure.
  bool Run(Clock::duration activity);
  const std::filesystem::path& Folder() const { return m_folder; }

  // What the host objects do when the module calls them.
  void OnClientTrace(std::string_view text);
  oru::Result OnConnectionEvent(std::string_view serverAddress);
  void OnConsumersChanged();
  // The module calls the host's tracer (+1 on the way in, -1 on the way out).
  void ModuleCallsHost(int step);
  oru::RefPtr<edr::ISiemTelemetryConsumersManager> Manager() {
    platform::MutexLock lock(&m_mutex);
    return m_manager;
  }

 private:
  struct TaskState {
    oru::RefPtr<oru::ITask> task;
    oru::RefPtr<edr::task::IEdrTelemetryTaskSettings> settings;
    int startsUnderWay = 0;
    std::uint64_t starts = 0;
    int stopsUnderWay = 0;
    std::uint64_t stops = 0;
    // A Stop that ran alone (no start or other stop of the task meanwhile)
    // returned to an ordered caller, and no start came since: no client of
    // the task may run.
    bool stopped = false;
    // Stopped or reconfigured from inside a callback on the module's thread
    // this round: nothing orders that client's end for the host.
    bool unordered = false;
    bool stopFromSink = false;
    bool stoppedFromSink = false;
    bool reported = false;
  };

  bool Load();
  void HostThread(int index, Clock::time_point end);
  void Act(Rng& rng);
  void StopAndRelease();
  // False when the module cannot be unloaded safely.
  bool Unload();
  void CheckEvents();

  EdrTelemetryTaskSettings RandomSettings(int task, Rng& rng) const;
  // Settings that keep the task's client trying a refusing port with events.
  EdrTelemetryTaskSettings RefusedSettings(int task, Rng& rng, bool afterResponseServer) const;
  std::uint64_t ConsumerId(int task) const { return 0x10000ull * (task + 1) + task + 1; }
  std::uint16_t Integration(int task) const { return static_cast<std::uint16_t>(ConsumerId(task) & 0xFFFF); }
  int TaskOfPort(std::uint16_t port) const;

  oru::Result Start(int task);
  oru::Result Stop(int task);
  oru::Result SetSettings(int task, const EdrTelemetryTaskSettings& settings);
  oru::Result GetSettings(int task);
  void Fire(int task, bool started, const std::function<void()>& meanwhile);
  void ProviderCall(Rng& rng);
  // Hands over `count` events (of `type`, or of any) to the consumer.
  void Produce(std::uint64_t consumerId, int task, Rng& rng, int count, int type = -1);
  void ProbeStopDuringNotification(int task, Rng& rng);
  void ProbeStopDuringDelayedStart(int task, Rng& rng);
  // The producer's default event types, every type wanted, as a host pushes
  // them once its task has started: a client decides nothing before.
  void PushDefaults();

  const Options& m_options;
  const int m_index;
  const bool m_calm;
  Rng m_rng;
  std::filesystem::path m_folder;
  Receiver m_receiver{2 * kTasks, kTasks};
  std::map<int, std::string> m_baseline;
  void* m_module = nullptr;
  oru::CreateObjectFunction m_create = nullptr;
  oru::CanUnloadModuleFunction m_canUnload = nullptr;

  oru::RefPtr<reference_host::ServiceLocator> m_locator;
  oru::RefPtr<ResponseServer> m_responseServer;
  oru::RefPtr<Tracer> m_tracer;
  oru::RefPtr<Sinks> m_sinks;
  oru::RefPtr<Listener> m_listener;
  std::vector<oru::RefPtr<HostConsumer>> m_hostConsumers;

  platform::Mutex m_mutex;
  platform::ConditionVariable m_changed;
  TaskState m_tasks[kTasks] GUARDED_BY(m_mutex);
  oru::RefPtr<edr::ISiemTelemetryConsumersProvider> m_provider GUARDED_BY(m_mutex);
  oru::RefPtr<edr::ISiemTelemetryConsumersManager> m_manager GUARDED_BY(m_mutex);
  bool m_hostConsumerAdded[kHostConsumers] GUARDED_BY(m_mutex) = {};
  // The delayed-start probe: the listener on this thread holds still until
  // another thread is stopping the task.
  std::thread::id m_holdOn GUARDED_BY(m_mutex);
  bool m_held GUARDED_BY(m_mutex) = false;
  bool m_stopping GUARDED_BY(m_mutex) = false;
  // Sequence number and task of every event a task's consumer took.
  std::vector<std::pair<std::uint64_t, int>> m_accepted GUARDED_BY(m_mutex);

  std::atomic<int> m_inHostCalls{0};
  std::atomic<bool> m_unloadable{false}, m_ranAfterUnloadable{false};
  std::atomic<int> m_sinkCalls{0}, m_listenerCalls{0}, m_refused{0}, m_starts{0}, m_stops{0}, m_fires{0};
};

class Tracer final : public oru::BasicObject<Tracer, oru::UncountedObject, oru::ITracer> {
 public:
  explicit Tracer(Round& round) : m_round(round) {}

 private:
  struct ModuleCall {
    explicit ModuleCall(Round& round) : round(round) { round.ModuleCallsHost(+1); }
    ~ModuleCall() { round.ModuleCallsHost(-1); }
    Round& round;
  };

 public:
  // Warnings name the endpoint a client failed on.
  bool IsLevelEnabled(std::int32_t level) override {
    const ModuleCall call(m_round);
    return level <= 500;
  }
  void Trace(std::int32_t, const char* text, std::size_t size) override {
    const ModuleCall call(m_round);
    // Only what the module does on its own threads.
    if (!t_hostThread && t_inHostCode == 0) m_round.OnClientTrace(std::string_view(text, size));
  }

 private:
  Round& m_round;
};

class Sinks final : public oru::BasicObject<Sinks, oru::UncountedObject, oru::IConnectedSink, oru::IConnectionErrorSink,
                                            oru::IIncorrectSettingsSink> {
 public:
  explicit Sinks(Round& round) : m_round(round) {}
  oru::Result Connected(std::string_view address, const std::optional<std::string>&) noexcept override {
    return m_round.OnConnectionEvent(address);
  }
  oru::Result ConnectionError(std::uint32_t, std::string_view address,
                              const std::optional<std::string>&) noexcept override {
    return m_round.OnConnectionEvent(address);
  }
  oru::Result IncorrectSettings(std::uint32_t) noexcept override { return oru::rc::NoError; }

 private:
  Round& m_round;
};

class Listener final
    : public oru::BasicObject<Listener, oru::UncountedObject, edr::ISiemTelemetryConsumersChangedEvent> {
 public:
  explicit Listener(Round& round) : m_round(round) {}
  oru::Result OnConsumersChanged() noexcept override {
    m_round.OnConsumersChanged();
    return oru::rc::NoError;
  }

 private:
  Round& m_round;
};

// A consumer of the host's own: wants every event, keeps the defaults it is
// given and, now and then, tells the manager it changed; a slow host at times.
class HostConsumer final : public oru::BasicObject<HostConsumer, oru::UncountedObject, edr::ISiemTelemetryConsumer> {
 public:
  HostConsumer(Round& round, std::uint64_t id) : m_round(round), m_id(id) {}
  oru::Result GetConsumerId(std::uint64_t* id) noexcept override {
    *id = m_id;
    return oru::rc::NoError;
  }
  oru::Result SetAllEventTypesDefaultSettings(const std::vector<edr::EventTypeSetting>& settings) noexcept override {
    InHostCode inHostCode;
    {
      platform::MutexLock lock(&m_mutex);
      m_types = settings;
    }
    if (ThreadRng().Percent(30)) {
      if (const auto manager = m_round.Manager()) manager->SendConsumerChanged();
    }
    return oru::rc::NoError;
  }
  oru::Result GetAllEventTypesSettings(std::vector<edr::EventTypeSetting>& settings) noexcept override {
    Slow();
    platform::MutexLock lock(&m_mutex);
    settings = m_types;
    return oru::rc::NoError;
  }
  oru::Result GetIncludeRules(std::u16string& rules) noexcept override {
    rules.clear();
    return oru::rc::NoError;
  }
  oru::Result SendEvent(std::u16string_view) noexcept override { return oru::rc::NoError; }
  oru::Result ShouldEventBeDropped(std::uint32_t, std::u16string_view, bool* drop) noexcept override {
    Slow();
    *drop = false;
    return oru::rc::NoError;
  }
  oru::Result ShouldEventOrIoaBeDropped(std::uint32_t, std::u16string_view, std::u16string_view,
                                        std::vector<edr::Ioa>&, bool* drop) noexcept override {
    *drop = false;
    return oru::rc::NoError;
  }

 private:
  static void Slow() {
    if (ThreadRng().Percent(20)) Pause(std::chrono::microseconds(ThreadRng().Below(1000)));
  }

  Round& m_round;
  const std::uint64_t m_id;
  platform::Mutex m_mutex;
  std::vector<edr::EventTypeSetting> m_types GUARDED_BY(m_mutex);
};

template <class I>
oru::RefPtr<I> Query(const oru::RefPtr<oru::IObject>& object) {
  return oru::QueryInterfaceAs<I>(object.Get());
}

std::u16string TypeName(int type) { return u"Type" + std::u16string(1, static_cast<char16_t>(u'0' + type)); }

Round::Round(const Options& options, int index, bool calm)
    : m_options(options), m_index(index), m_calm(calm), m_rng(g_seed * 1000003 + static_cast<std::uint64_t>(index)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "edr_torture_XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_folder = pattern;
}

Round::~Round() {
  std::error_code ignored;
  std::filesystem::remove_all(m_folder, ignored);
}

bool Round::Load() {
  m_baseline = Threads();
  m_module = ::dlopen(m_options.module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_module) {
    Fail(std::string("can't load the module: ") + ::dlerror());
    return false;
  }
  m_create = reinterpret_cast<oru::CreateObjectFunction>(::dlsym(m_module, oru::kCreateObjectEntryPoint));
  m_canUnload = reinterpret_cast<oru::CanUnloadModuleFunction>(::dlsym(m_module, oru::kCanUnloadModuleEntryPoint));
  const auto create = [&](std::uint32_t classId) {
    oru::IObject* object = nullptr;
    if (oru::Failed(m_create(classId, m_locator.Get(), &object))) throw std::runtime_error("oruCreateObject failed");
    return oru::RefPtr<oru::IObject>::Adopt(object);
  };

  m_locator = reference_host::ServiceLocator::Create();
  m_responseServer = ResponseServer::Create();
  m_tracer = Tracer::Create(*this);
  m_sinks = Sinks::Create(*this);
  m_listener = Listener::Create(*this);
  const auto folders = reference_host::DataFolderService::Create();
  for (int i = 0; i < kTasks; ++i) folders->SetFolder(i + 1, m_folder / ("task" + std::to_string(i)));
  m_locator->Register(m_tracer);
  m_locator->Register(folders);
  m_locator->Register(reference_host::ClientCertificateDecryptor::Create());
  m_locator->Register(reference_host::SyslogMessageSuffix::Create());
  m_locator->Register(m_responseServer);
  m_locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(m_sinks);
  for (int i = 0; i < kHostConsumers; ++i) m_hostConsumers.push_back(HostConsumer::Create(*this, 0x9000000ull + i));

  const auto manager = create(oru::class_ids::kSiemTelemetryConsumersManager);
  Query<edr::ISiemTelemetryConsumersChangedEventSource>(manager)->Subscribe(m_listener.Get());
  m_locator->Register(oru::service_ids::kConsumersManager, manager);
  m_locator->Register(oru::service_ids::kClientServiceFactory,
                      create(oru::class_ids::kEdrTelemetryClientServiceFactory));
  std::vector<oru::RefPtr<oru::IObject>> tasks;
  for (int i = 0; i < kTasks; ++i) tasks.push_back(create(oru::class_ids::kEdrTelemetryTask));
  platform::MutexLock lock(&m_mutex);
  m_provider = Query<edr::ISiemTelemetryConsumersProvider>(manager);
  m_manager = Query<edr::ISiemTelemetryConsumersManager>(manager);
  for (int i = 0; i < kTasks; ++i) {
    m_tasks[i].task = Query<oru::ITask>(tasks[i]);
    m_tasks[i].settings = Query<edr::task::IEdrTelemetryTaskSettings>(tasks[i]);
  }
  return true;
}

bool Round::Run(Clock::duration activity) {
  if (!Load()) return false;
  const Clock::time_point end = Clock::now() + activity;
  std::vector<std::thread> threads;
  for (int t = 0; t < m_options.threads; ++t) threads.emplace_back([this, t, end] { HostThread(t, end); });
  for (std::thread& thread : threads) thread.join();
  // On a thread of its own that ends before the unload: glibc keeps a library
  // mapped while a thread lives that has a thread_local destructor of it to run.
  std::thread([this] {
    t_hostThread = true;
    t_slot = &g_slots[m_options.threads];
    StopAndRelease();
  }).join();
  if (!Unload()) return false;
  CheckEvents();
  return g_failures == 0;
}

void Round::HostThread(int index, Clock::time_point end) {
  t_hostThread = true;
  t_slot = &g_slots[index];
  Rng rng(g_seed * 7919 + static_cast<std::uint64_t>(m_index) * 104729 + static_cast<std::uint64_t>(index));
  // In every other round, one thread stops a task while a notification
  // round holds the task's start handler.
  if (index == 0 && (m_calm || m_rng.Percent(50))) {
    Pause(std::chrono::milliseconds(rng.Below(500)));
    ProbeStopDuringNotification(static_cast<int>(rng.Below(kTasks)), rng);
  }
  // In every other round, another stops a task while the notification that
  // starts it after the response server tells the consumers' listeners.
  if (index == 1 && !m_calm && rng.Percent(50)) {
    Pause(std::chrono::milliseconds(rng.Below(500)));
    ProbeStopDuringDelayedStart(static_cast<int>(rng.Below(kTasks)), rng);
  }
  while (!m_calm && Clock::now() < end) Act(rng);
  t_slot = nullptr;
}

void Round::Act(Rng& rng) {
  const int task = static_cast<int>(rng.Below(kTasks));
  const std::uint64_t action = rng.Below(100);
  if (action < 8) {
    Start(task);
  } else if (action < 14) {
    Stop(task);
  } else if (action < 16) {
    oru::RefPtr<oru::ITask> target;
    {
      platform::MutexLock lock(&m_mutex);
      target = m_tasks[task].task;
    }
    Call call("Pause/Resume");
    if (target) rng.Percent(50) ? target->Pause() : target->Resume();
  } else if (action < 24) {
    SetSettings(task, RandomSettings(task, rng));
  } else if (action < 27) {
    GetSettings(task);
  } else if (action < 35) {
    Fire(task, rng.Percent(80), [&] {
      if (rng.Percent(20)) Pause(std::chrono::milliseconds(rng.Below(200)));
    });
  } else if (action < 39) {
    // The next start of the task subscribes without hearing a state: its
    // consumer is added by a later notification, on that thread.
    m_responseServer->Forget(Integration(task));
  } else if (action < 44) {
    const int which = static_cast<int>(rng.Below(kHostConsumers));
    const auto manager = Manager();
    bool added = false;
    {
      platform::MutexLock lock(&m_mutex);
      added = std::exchange(m_hostConsumerAdded[which], !m_hostConsumerAdded[which]);
    }
    Call call("Add/RemoveTelemetryConsumer");
    added ? manager->RemoveTelemetryConsumer(m_hostConsumers[which].Get())
          : manager->AddTelemetryConsumer(m_hostConsumers[which].Get());
  } else if (action < 55) {
    ProviderCall(rng);
  } else if (action < 95) {
    Produce(ConsumerId(task), task, rng, 1 + static_cast<int>(rng.Below(20)));
  } else {
    Produce(0x9000000ull + rng.Below(kHostConsumers), -1, rng, 1 + static_cast<int>(rng.Below(5)));
  }
}

EdrTelemetryTaskSettings Round::RandomSettings(int task, Rng& rng) const {
  EdrTelemetryTaskSettings s;
  std::vector<std::uint16_t> ports = {m_receiver.Listening(2 * task), m_receiver.Listening(2 * task + 1),
                                      m_receiver.Refusing(task)};
  std::shuffle(ports.begin(), ports.end(), rng.Engine());
  ports.resize(rng.Percent(5) ? 0 : 1 + rng.Below(3));
  for (const std::uint16_t port : ports) s.endpoints.push_back({"127.0.0.1", port, 0});
  s.consumerId = ConsumerId(task);
  s.dataFolderId = static_cast<std::uint32_t>(task + 1);
  s.maximumDataTransferTime = static_cast<std::uint32_t>(1 + rng.Below(2));
  s.timeoutConnection = s.timeoutRequest = 300;
  s.maximumNumberOfEventsInPackage = rng.Percent(3) ? -1 : static_cast<std::int32_t>(1 + rng.Below(50));
  s.maximumNumberOfEventsInHour = std::vector<std::int32_t>{20, 2000, 1000000}[rng.Below(3)];
  s.eventLimitExceededPercentage = static_cast<std::int32_t>(rng.Below(101));
  s.useRequestCountLimits = rng.Percent(50);
  s.onlyTaggedEvents = rng.Percent(20);
  // Room for every event of a run: nothing spooled may be dropped for space.
  s.persistentTelemetryPartSize = rng.Percent(50) ? 5 : 25;
  s.persistentTelemetryPartCount = 40;
  s.persistentTelemetryPartRemoveCount = static_cast<std::uint32_t>(1 + rng.Below(4));
  for (int type = 0; type < kEventTypes; ++type) {
    if (rng.Percent(50)) s.userDefinedEventTypes.push_back({TypeName(type), rng.Percent(70)});
  }
  s.disableIfNotInEventTypes = rng.Percent(20);
  s.startAfterResponseServer = rng.Percent(40);
  if (rng.Percent(50)) s.includeRules = uR"({"inclusiveRules":[{"id":1,"enable":true}]})";
  s.gzipCompressionLevel = rng.Percent(3) ? 6 : 5;
  return s;
}

EdrTelemetryTaskSettings Round::RefusedSettings(int task, Rng& rng, bool afterResponseServer) const {
  EdrTelemetryTaskSettings s = RandomSettings(task, rng);
  s.endpoints = {{"127.0.0.1", m_receiver.Refusing(task), 0}};
  s.maximumDataTransferTime = 1;
  s.maximumNumberOfEventsInPackage = 10;
  s.maximumNumberOfEventsInHour = 1000000;
  s.useRequestCountLimits = false;
  s.onlyTaggedEvents = false;
  s.userDefinedEventTypes = {{TypeName(0), true}};
  s.disableIfNotInEventTypes = false;
  s.startAfterResponseServer = afterResponseServer;
  s.gzipCompressionLevel = 5;
  return s;
}

int Round::TaskOfPort(std::uint16_t port) const {
  for (int task = 0; task < kTasks; ++task) {
    if (port == m_receiver.Listening(2 * task) || port == m_receiver.Listening(2 * task + 1) ||
        port == m_receiver.Refusing(task)) {
      return task;
    }
  }
  return -1;
}

oru::Result Round::Start(int task) {
  oru::RefPtr<oru::ITask> target;
  {
    platform::MutexLock lock(&m_mutex);
    TaskState& state = m_tasks[task];
    if (!state.task) return oru::rc::NotFound;
    target = state.task;
    ++state.startsUnderWay;
    ++state.starts;
    state.stopped = false;
  }
  ++m_starts;
  Call call("Start");
  const oru::Result result = target->Start();
  platform::MutexLock lock(&m_mutex);
  --m_tasks[task].startsUnderWay;
  return result;
}

oru::Result Round::Stop(int task) {
  oru::RefPtr<oru::ITask> target;
  std::uint64_t starts = 0, stops = 0;
  bool alone = false;
  {
    platform::MutexLock lock(&m_mutex);
    TaskState& state = m_tasks[task];
    if (!state.task) return oru::rc::NotFound;
    target = state.task;
    starts = state.starts;
    stops = ++state.stops;
    alone = ++state.stopsUnderWay == 1 && state.startsUnderWay == 0;
  }
  ++m_stops;
  Call call("Stop");
  const oru::Result result = target->Stop();
  platform::MutexLock lock(&m_mutex);
  TaskState& state = m_tasks[task];
  --state.stopsUnderWay;
  if (!OrderedCaller()) {
    state.unordered = true;
  } else if (oru::Succeeded(result) && alone && state.startsUnderWay == 0 && state.starts == starts &&
             state.stops == stops) {
    state.stopped = true;
  }
  return result;
}

oru::Result Round::SetSettings(int task, const EdrTelemetryTaskSettings& settings) {
  oru::RefPtr<edr::task::IEdrTelemetryTaskSettings> target;
  {
    platform::MutexLock lock(&m_mutex);
    target = m_tasks[task].settings;
    // From a sending thread a restart goes on on a thread of the module's.
    if (!OrderedCaller()) m_tasks[task].unordered = true;
  }
  if (!target) return oru::rc::NotFound;
  Call call("SetSettings");
  const oru::Result result = target->SetSettings(&settings);
  if (oru::Failed(result)) ++m_refused;
  return result;
}

oru::Result Round::GetSettings(int task) {
  oru::RefPtr<edr::task::IEdrTelemetryTaskSettings> target;
  {
    platform::MutexLock lock(&m_mutex);
    target = m_tasks[task].settings;
  }
  if (!target) return oru::rc::NotFound;
  Call call("GetSettings");
  EdrTelemetryTaskSettings settings;
  return target->GetSettings(&settings);
}

void Round::Fire(int task, bool started, const std::function<void()>& meanwhile) {
  ++m_fires;
  Call call("response server notification");
  m_responseServer->Notify(Integration(task), started, meanwhile);
}

void Round::ProviderCall(Rng& rng) {
  oru::RefPtr<edr::ISiemTelemetryConsumersProvider> provider;
  {
    platform::MutexLock lock(&m_mutex);
    provider = m_provider;
  }
  Call call("provider");
  switch (rng.Below(5)) {
    case 0: {
      bool drop = true;
      provider->ShouldEventBeDropped(static_cast<std::uint32_t>(rng.Below(4)), TypeName(rng.Below(kEventTypes)).c_str(),
                                     &drop);
      break;
    }
    case 1: {
      std::vector<edr::ConsumerEventTypeSettings> settings;
      provider->GetAllEventTypesSettings(settings);
      break;
    }
    case 2: {
      std::vector<edr::EventTypeSetting> defaults;
      for (int type = 0; type < kEventTypes; ++type) {
        if (rng.Percent(80)) defaults.push_back({TypeName(type), rng.Percent(70)});
      }
      provider->SetAllEventTypesDefaultSettings(defaults);
      break;
    }
    case 3: {
      std::vector<std::uint64_t> ids;
      provider->GetSiemTelemetryConsumers(ids);
      break;
    }
    default: {
      std::u16string rules;
      provider->GetIncludeRules(ConsumerId(static_cast<int>(rng.Below(kTasks))), rules);
    }
  }
}

void Round::PushDefaults() {
  oru::RefPtr<edr::ISiemTelemetryConsumersProvider> provider;
  {
    platform::MutexLock lock(&m_mutex);
    provider = m_provider;
  }
  std::vector<edr::EventTypeSetting> defaults;
  for (int type = 0; type < kEventTypes; ++type) defaults.push_back({TypeName(type), true});
  Call call("SetAllEventTypesDefaultSettings");
  provider->SetAllEventTypesDefaultSettings(defaults);
}

void Round::Produce(std::uint64_t consumerId, int task, Rng& rng, int count, int type) {
  oru::RefPtr<edr::ISiemTelemetryConsumersProvider> provider;
  {
    platform::MutexLock lock(&m_mutex);
    provider = m_provider;
  }
  for (int k = 0; k < count; ++k) {
    const std::uint64_t sequence = ++g_lastSequence;
    const int eventType = type >= 0 ? type : static_cast<int>(rng.Below(kEventTypes));
    const auto throttlingId = static_cast<std::uint32_t>(rng.Below(4));
    const std::string text = "{\"eventType\":\"Type" + std::to_string(eventType) + "\",\"throttlingId\":" +
                             std::to_string(throttlingId) + ",\"sequence\":\"S#" + std::to_string(sequence) + "#\"}";
    const std::u16string text16(text.begin(), text.end());
    std::vector<edr::Ioa> ioas;
    if (rng.Percent(50)) ioas.push_back({"ioa", 1, rng.Percent(50), false, false});
    Call call("ShouldEventOrIoaBeDropped/SendEvent");
    bool drop = true;
    if (oru::Failed(provider->ShouldEventOrIoaBeDropped(consumerId, throttlingId, TypeName(eventType).c_str(),
                                                        text16.c_str(), ioas, &drop)) ||
        drop) {
      continue;
    }
    // A refusal (NotFound: the task was stopping) means nobody took it.
    if (oru::Succeeded(provider->SendEvent(consumerId, text16.c_str())) && task >= 0) {
      platform::MutexLock lock(&m_mutex);
      m_accepted.emplace_back(sequence, task);
    }
  }
}

// A started client trying a refusing port with events to send; a
// notification round holds the task's start handler while the host stops the
// task and goes on with its own work: the client must not try again.
void Round::ProbeStopDuringNotification(int task, Rng& rng) {
  if (oru::Failed(SetSettings(task, RefusedSettings(task, rng, true))) || oru::Failed(Start(task))) return;
  Fire(task, true, nullptr);
  PushDefaults();
  Produce(ConsumerId(task), task, rng, 5, 0);
  Fire(task, true, [&] {
    if (oru::Succeeded(Stop(task))) Pause(2500ms);
  });
}

// A task started after the response server, whose state the host does not
// know yet: a notification adds its consumer, and the consumers' listener that
// this tells reads the task while another host thread is stopping it.
void Round::ProbeStopDuringDelayedStart(int task, Rng& rng) {
  EdrTelemetryTaskSettings settings = RandomSettings(task, rng);
  settings.startAfterResponseServer = true;
  settings.maximumNumberOfEventsInPackage = 10;
  settings.gzipCompressionLevel = 5;
  m_responseServer->Forget(Integration(task));
  if (oru::Failed(SetSettings(task, settings)) || oru::Failed(Start(task))) return;
  {
    platform::MutexLock lock(&m_mutex);
    m_holdOn = std::this_thread::get_id();
  }
  std::thread stopper([&] {
    t_hostThread = true;
    {
      platform::MutexLock lock(&m_mutex);
      for (const auto until = Clock::now() + 2s; !m_held && Clock::now() < until;) m_changed.WaitUntil(&m_mutex, until);
      m_stopping = true;
      m_changed.NotifyAll();
    }
    Stop(task);
  });
  Fire(task, true, nullptr);
  stopper.join();
  platform::MutexLock lock(&m_mutex);
  m_holdOn = {};
  m_held = m_stopping = false;
}

void Round::OnClientTrace(std::string_view text) {
  constexpr std::string_view kHost = "127.0.0.1:";
  for (std::size_t at = text.find(kHost); at != std::string_view::npos; at = text.find(kHost, at + 1)) {
    const int task = TaskOfPort(static_cast<std::uint16_t>(std::atoi(std::string(text.substr(at + kHost.size(), 5)).c_str())));
    if (task < 0) continue;
    {
      platform::MutexLock lock(&m_mutex);
      TaskState& state = m_tasks[task];
      if (!state.stopped || state.unordered || state.reported) continue;
      state.reported = true;
    }
    Fail("round " + std::to_string(m_index) + ": task " + std::to_string(task) +
         "'s client still runs after its Stop returned, thread '" + Threads()[::gettid()] + "' traced: " +
         std::string(text));
  }
}

oru::Result Round::OnConnectionEvent(std::string_view serverAddress) {
  InHostCode inHostCode;
  ++m_sinkCalls;
  const std::size_t colon = serverAddress.rfind(':');
  const int task = colon == std::string_view::npos
                       ? -1
                       : TaskOfPort(static_cast<std::uint16_t>(std::atoi(std::string(serverAddress.substr(colon + 1)).c_str())));
  if (task < 0) return oru::rc::NoError;
  Rng& rng = ThreadRng();
  // A slow host: the sending thread stays in here a while.
  if (rng.Percent(50)) Pause(std::chrono::microseconds(rng.Below(3000)));
  GetSettings(task);
  bool stopNow = false;
  {
    platform::MutexLock lock(&m_mutex);
    stopNow = m_tasks[task].stopFromSink && !m_tasks[task].stoppedFromSink;
  }
  if (stopNow || rng.Percent(2)) {
    // Released on its own sending thread, the client cannot wait for its worker.
    Stop(task);
    platform::MutexLock lock(&m_mutex);
    m_tasks[task].stoppedFromSink |= stopNow;
    m_changed.NotifyAll();
  } else if (rng.Percent(4)) {
    SetSettings(task, RandomSettings(task, rng));
  } else if (rng.Percent(5)) {
    ProviderCall(rng);
  }
  return oru::rc::NoError;
}

void Round::OnConsumersChanged() {
  InHostCode inHostCode;
  ++m_listenerCalls;
  Rng& rng = ThreadRng();
  {
    platform::MutexLock lock(&m_mutex);
    if (m_holdOn == std::this_thread::get_id() && !m_held) {
      m_held = true;
      m_changed.NotifyAll();
      for (const auto until = Clock::now() + 2s; !m_stopping && Clock::now() < until;) {
        m_changed.WaitUntil(&m_mutex, until);
      }
      lock.Unlock();
      // Time for the stop to get under way.
      Pause(100ms);
    }
  }
  if (rng.Percent(30)) Pause(std::chrono::microseconds(rng.Below(2000)));
  for (int task = 0; task < kTasks; ++task) {
    if (rng.Percent(60)) GetSettings(task);
  }
  if (rng.Percent(10)) ProviderCall(rng);
}

void Round::StopAndRelease() {
  // In every other round, one task's last stop comes from its own sending
  // thread, just before everything is released.
  const int probe = m_calm || m_rng.Percent(50) ? static_cast<int>(m_rng.Below(kTasks)) : -1;
  if (probe >= 0 && oru::Succeeded(SetSettings(probe, RefusedSettings(probe, m_rng, false))) &&
      oru::Succeeded(Start(probe))) {
    {
      platform::MutexLock lock(&m_mutex);
      m_tasks[probe].stopFromSink = true;
    }
    PushDefaults();
    Produce(ConsumerId(probe), probe, m_rng, 5, 0);
  }
  for (int task = 0; task < kTasks; ++task) {
    if (task != probe) Stop(task);
  }
  if (probe >= 0) {
    bool stoppedFromSink = false;
    {
      platform::MutexLock lock(&m_mutex);
      for (const auto until = Clock::now() + 5s; !m_tasks[probe].stoppedFromSink && Clock::now() < until;) {
        m_changed.WaitUntil(&m_mutex, until);
      }
      stoppedFromSink = m_tasks[probe].stoppedFromSink;
    }
    if (!stoppedFromSink) Stop(probe);
  }

  // Everything released, the locator's cycles broken.
  {
    // Released outside the lock: a last release runs the module's code.
    std::vector<oru::RefPtr<oru::IObject>> released;
    platform::MutexLock lock(&m_mutex);
    for (TaskState& state : m_tasks) {
      released.emplace_back(std::move(state.task));
      released.emplace_back(std::move(state.settings));
    }
    released.emplace_back(std::move(m_provider));
    released.emplace_back(std::move(m_manager));
    lock.Unlock();
  }
  m_locator->Unregister(oru::service_ids::kConsumersManager);
  m_locator->Unregister(oru::service_ids::kClientServiceFactory);
  m_responseServer->Clear();
}

void Round::ModuleCallsHost(int step) {
  if (step > 0) ++m_inHostCalls;
  if (m_unloadable && !m_ranAfterUnloadable.exchange(true)) {
    Fail("round " + std::to_string(m_index) + ": thread '" + Threads()[::gettid()] +
         "' runs the module's code after the module answered that it can be unloaded (it called the host's tracer)");
  }
  if (step < 0) --m_inHostCalls;
}

bool Round::Unload() {
  const auto until = Clock::now() + 30s;
  while (m_canUnload() != 0 && Clock::now() < until) Pause(100us);
  if (m_canUnload() != 0) {
    Fail("round " + std::to_string(m_index) + ": the module never answered that it can be unloaded");
    return false;
  }
  // From here on no code of the module may run: no call into the host.
  m_unloadable = true;
  if (m_inHostCalls > 0 && !m_ranAfterUnloadable.exchange(true)) {
    Fail("round " + std::to_string(m_index) +
         ": a thread of the module was inside the host's tracer when the module answered that it can be unloaded");
  }
  const auto newThreads = [&] {
    std::string names;
    for (const auto& [id, name] : Threads()) {
      if (!m_baseline.count(id)) names += " '" + name + "' (" + std::to_string(id) + ")";
    }
    return names;
  };
  std::string left = newThreads();
  if (!left.empty()) {
    Log("round %d: threads there when the module answered that it can be unloaded:%s", m_index, left.c_str());
  }
  // A thread on its way out may still be listed a moment; the module stays
  // loaded meanwhile, so that a thread left running shows as such, not as a
  // crash.
  for (const auto until = Clock::now() + 3s; !left.empty() && Clock::now() < until; left = newThreads()) Pause(10ms);
  if (!left.empty()) Fail("round " + std::to_string(m_index) + ": threads of the module outlived its unload:" + left);
  if (!left.empty() || m_ranAfterUnloadable) {
    g_moduleLeftLoaded = true;
    return false;
  }
  ::dlclose(m_module);
  if (g_moduleLeftLoaded) return true;
  if (void* again = ::dlopen(m_options.module.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    ::dlclose(again);
    Fail("round " + std::to_string(m_index) + ": the module stayed loaded after dlclose");
    return false;
  }
  return true;
}

void Round::CheckEvents() {
  for (const auto until = Clock::now() + 5s; m_receiver.OpenConnections() > 0 && Clock::now() < until;) Pause(10ms);
  const std::map<std::uint64_t, int> arrived = m_receiver.Arrived();
  std::set<std::uint64_t> spooled;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(m_folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("telemetry-", 0) != 0 || entry.path().extension() != ".db") continue;
    sqlite3* db = nullptr;
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_open_v2(entry.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT value FROM value_storage", -1, &rows, nullptr) == SQLITE_OK) {
      while (sqlite3_step(rows) == SQLITE_ROW) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
        if (value) ForEachSequence(value, [&](std::uint64_t s) { spooled.insert(s); });
      }
    } else {
      Fail("round " + std::to_string(m_index) + ": can't read the spool " + entry.path().string());
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
  }
  std::vector<std::pair<std::uint64_t, int>> accepted;
  {
    platform::MutexLock lock(&m_mutex);
    accepted = m_accepted;
  }
  std::string lost;
  std::size_t lostCount = 0, twice = 0, inSpool = 0;
  for (const auto& [sequence, task] : accepted) {
    const auto found = arrived.find(sequence);
    const int times = found == arrived.end() ? 0 : found->second;
    twice += times > 1;
    inSpool += spooled.count(sequence);
    if (times == 0 && !spooled.count(sequence) && lostCount++ < 10) {
      lost += " " + std::to_string(sequence) + " (task " + std::to_string(task) + ")";
    }
  }
  Log("round %d: %zu events accepted, %zu arrived, %zu in the spool, %zu arrived more than once; "
      "%d starts, %d stops, %d settings refused, %d notifications, %d sink calls, %d listener calls",
      m_index, accepted.size(), arrived.size(), inSpool, twice, m_starts.load(), m_stops.load(), m_refused.load(),
      m_fires.load(), m_sinkCalls.load(), m_listenerCalls.load());
  if (lostCount > 0) {
    Fail("round " + std::to_string(m_index) + ": " + std::to_string(lostCount) +
         " accepted events neither arrived nor are in the spool:" + lost);
  }
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--keep-going") {
      options.keepGoing = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--seconds") {
      options.seconds = std::atoi(value);
    } else if (name == "--seed") {
      options.seed = std::strtoull(value, nullptr, 10);
    } else if (name == "--threads") {
      options.threads = std::clamp(std::atoi(value), 1, 32);
    } else if (name == "--module") {
      options.module = value;
    } else {
      return false;
    }
  }
  return options.seconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: host_torture_tests [--seconds N] [--seed S] [--threads T] [--module PATH] [--keep-going]\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  g_seed = options.seed;
  t_hostThread = true;
  Log("seed %llu, %d s, %d host threads, module %s", static_cast<unsigned long long>(options.seed), options.seconds,
      options.threads, options.module.c_str());
  const Clock::time_point end = Clock::now() + std::chrono::seconds(options.seconds);
  // Room for the last round's unload and account.
  Watchdog watchdog(end + 150s);
  Rng rng(options.seed);
  int rounds = 0;
  for (; Clock::now() < end; ++rounds) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    const auto activity = std::min(left, std::chrono::milliseconds(2000 + rng.Below(2000)));
    auto round = std::make_unique<Round>(options, rounds, rounds == 0);
    if (round->Run(activity)) continue;
    // The module may still be loaded, with threads that call the round's
    // objects: nothing of it is torn down, its folder stays for a look.
    Log("round %d FAILED, its folder: %s", rounds, round.release()->Folder().c_str());
    if (!options.keepGoing) break;
  }
  Log("%d rounds, %s", rounds, g_failures == 0 ? "no failure" : "FAILED");
  std::fflush(stderr);
  if (g_failures != 0) std::_Exit(1);
  return 0;
}
