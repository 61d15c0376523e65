// A host that tortures the module. Round after round it loads the module with
// dlopen and, from several host threads at once, starts, stops, pauses and
// reconfigures tasks, fires the response server, adds and removes consumers
// and hands over events, while its connection sinks and consumers-changed
// listener call the tasks and the manager back. A round ends with every task
// stopped and released and the module unloaded. The first round is calm: one
// thread drives the paths that chaos reaches only by luck (a task stopped
// while a notification holds its start handler, a task stopped from its own
// sending thread just before the unload).
//
// It fails on a hang (printing every thread's stack), on a task's client that
// runs after the task's Stop returned, on code of the module that runs after
// the module answered that it can be unloaded, on a module that does not
// answer so or stays mapped, and on an accepted event that neither arrived at
// the loopback receiver nor is in the spool. Crashes and sanitizer reports
// end it by themselves. Refused settings, NotFound and NotSupported are
// answers, not failures.
//
//   host_torture_tests [--seconds N] [--seed S] [--threads T] [--module PATH] [--keep-going]
//
// It stops after the first failed round; with --keep-going it leaves that
// round's objects (and the module, if not unloaded) as they are and goes on.

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
#include <cerrno>
#include <chrono>
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
using Provider = edr::ISiemTelemetryConsumersProvider;

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
// Longer than any call into the module takes when nothing is stuck.
constexpr auto kHangLimit = 30s;

std::uint64_t g_seed = 1;
const Clock::time_point g_begun = Clock::now();
std::atomic<std::uint64_t> g_lastSequence{0};
std::atomic<int> g_failures{0};
// A failed round left the module loaded (--keep-going).
bool g_moduleLeftLoaded = false;
// A thread of the test's own, and how deep the module has called the test's
// host code on this thread.
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

// A call the test makes in its own order, not from inside a callback: only
// then does the module's answer order what comes after it.
bool OrderedCaller() { return t_hostThread && t_inHostCode == 0; }

void Pause(std::chrono::microseconds duration) { std::this_thread::sleep_for(duration); }

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// The watchdog's view of the host threads: each marks its calls into the
// module (the outermost one) in a slot of its own.
struct WatchSlot {
  std::atomic<std::int64_t> sinceMs{0};
  std::atomic<const char*> what{""};
};
WatchSlot g_slots[64];
thread_local WatchSlot* t_slot = nullptr;
thread_local int t_callDepth = 0;

class Call {
 public:
  explicit Call(const char* what) {
    if (!t_slot || t_callDepth++ != 0) return;
    t_slot->what = what;
    t_slot->sinceMs = NowMs();
  }
  ~Call() {
    if (t_slot && --t_callDepth == 0) t_slot->sinceMs = 0;
  }
};

// A call that has not returned after kHangLimit, or a run past its deadline,
// has gdb print every thread's stack; then the test aborts.
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
          Abort(std::string("a host thread's call ") + slot.what.load() + " has not returned for " +
                std::to_string((NowMs() - since) / 1000) + " s");
        }
      }
      if (Clock::now() > m_deadline) Abort("the run went past its deadline");
    }
  }
  [[noreturn]] static void Abort(const std::string& why) {
    Log("HANG: %s; every thread's stack follows", why.c_str());
    const std::string pid = std::to_string(::getpid());
    const char* argv[] = {"timeout", "180", "gdb", "-p", pid.c_str(), "-batch", "-nx", "-ex", "set pagination off",
                          "-ex", "thread apply all bt", nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, "timeout", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
      int status = 0;
      ::waitpid(child, &status, 0);
    }
    Log("FAIL: hang: %s", why.c_str());
    std::abort();
  }

  const Clock::time_point m_deadline;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

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

// Every sequence number N in a text, written "S#N#" in the events.
template <class F>
void ForEachSequence(std::string_view text, F&& f) {
  for (std::size_t at = text.find("S#"); at != std::string_view::npos; at = text.find("S#", at + 2)) {
    std::size_t end = at + 2;
    std::uint64_t sequence = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') sequence = sequence * 10 + (text[end++] - '0');
    if (end > at + 2 && end < text.size() && text[end] == '#') f(sequence);
  }
}

// The sequence numbers of the events in the spools under `folder`: the
// value column of table value_storage in every queues/telemetry-<n>.db.
std::set<std::uint64_t> SpooledSequences(const std::filesystem::path& folder) {
  std::set<std::uint64_t> spooled;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    if (entry.path().filename().string().rfind("telemetry-", 0) != 0 || entry.path().extension() != ".db") continue;
    sqlite3* db = nullptr;
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_open_v2(entry.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT value FROM value_storage", -1, &rows, nullptr) != SQLITE_OK) {
      Fail("can't read the spool " + entry.path().string());
    }
    while (rows && sqlite3_step(rows) == SQLITE_ROW) {
      if (const auto* value = sqlite3_column_text(rows, 0)) {
        ForEachSequence(reinterpret_cast<const char*>(value), [&](std::uint64_t s) { spooled.insert(s); });
      }
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
  }
  return spooled;
}

// A round's loopback syslog receiver: ports that listen and ports that refuse
// connections (bound, never listening). Counts the events that arrive by
// sequence number, from whole lines only: a line cut short is sent again.
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
          (i < listening && ::listen(fd, SOMAXCONN) != 0) ||
          ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("no loopback socket");
      }
      (i < listening ? m_listeners : m_refusers).push_back(fd);
      m_ports.push_back(ntohs(address.sin_port));
    }
    m_thread = std::thread([this] { Run(); });
  }
  ~Receiver() {
    m_stop = true;
    m_thread.join();
    for (const int fd : m_listeners) ::close(fd);
    for (const int fd : m_refusers) ::close(fd);
  }

  // The listening ports first, then the refusing ones.
  const std::vector<std::uint16_t>& Ports() const { return m_ports; }
  int OpenConnections() const { return m_open; }
  // Turns of the receiving loop so far: one that began after a moment has
  // accepted every connection made before it.
  std::uint64_t Turns() const { return m_turns; }
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
      ++m_turns;
      std::vector<pollfd> fds;
      for (const int fd : m_listeners) fds.push_back({fd, POLLIN, 0});
      for (const Connection& connection : connections) fds.push_back({connection.fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), 50);
      for (const int fd : m_listeners) {
        for (int accepted; (accepted = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0; ++m_open) {
          connections.push_back({accepted, {}});
        }
      }
      std::erase_if(connections, [&](Connection& connection) {
        if (Read(connection)) return false;
        ::close(connection.fd);
        --m_open;
        return true;
      });
    }
    for (const Connection& connection : connections) ::close(connection.fd);
  }

  // False once the connection has ended.
  bool Read(Connection& connection) {
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(connection.fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) connection.pending.append(buffer, static_cast<std::size_t>(n));
    }
    const bool open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
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
  std::vector<std::uint16_t> m_ports;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_open{0};
  std::atomic<std::uint64_t> m_turns{0};
  platform::Mutex m_mutex;
  std::map<std::uint64_t, int> m_arrived GUARDED_BY(m_mutex);
  std::thread m_thread;
};

// The host's response servers as the component hears of them. A notification
// holds every subscriber it is about to tell until it has told it, as a host
// that copies its list of subscribers does, and may do some of the host's
// work before it tells anybody. UnsubscribeAndWait waits for the
// notifications that hold the handler, except one on the caller's thread.
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
    // A new subscriber hears at once the state of every integration known.
    for (const auto& [integration, started] : states) handler->OnConnectionEvent(integration, started);
    return oru::rc::NoError;
  }
  oru::Result Unsubscribe(Handler* handler) noexcept override { return Remove(handler, false); }
  oru::Result UnsubscribeAndWait(Handler* handler) noexcept override { return Remove(handler, true); }

  // Tells every subscriber; `meanwhile` runs first, while the subscribers are held.
  void Notify(std::uint16_t integration, bool started, const std::function<void()>& meanwhile) {
    std::vector<oru::RefPtr<Handler>> handlers;
    std::list<Notification>::iterator notification;
    {
      platform::MutexLock lock(&m_mutex);
      m_states[integration] = started;
      handlers = m_handlers;
      notification = m_notifications.insert(m_notifications.end(), {std::this_thread::get_id(), {}});
      for (const auto& handler : handlers) notification->held.push_back(handler.Get());
    }
    if (meanwhile) meanwhile();
    for (oru::RefPtr<Handler>& handler : handlers) {
      handler->OnConnectionEvent(integration, started);
      {
        platform::MutexLock lock(&m_mutex);
        auto& held = notification->held;
        held.erase(std::find(held.begin(), held.end(), handler.Get()));
      }
      handler = nullptr;
      m_returned.NotifyAll();
    }
    platform::MutexLock lock(&m_mutex);
    m_notifications.erase(notification);
  }
  // A new subscriber will hear nothing of the integration.
  void Forget(std::uint16_t integration) {
    platform::MutexLock lock(&m_mutex);
    m_states.erase(integration);
  }
  // The host's server goes, with whatever subscribers are left.
  void Clear() {
    std::vector<oru::RefPtr<Handler>> handlers;
    platform::MutexLock lock(&m_mutex);
    handlers.swap(m_handlers);
    lock.Unlock();
  }

 private:
  struct Notification {
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
    while (wait && HeldElsewhere(handler)) m_returned.Wait(&m_mutex);
    lock.Unlock();
    return oru::rc::NoError;
  }
  bool HeldElsewhere(Handler* handler) REQUIRES(m_mutex) {
    return std::any_of(m_notifications.begin(), m_notifications.end(), [&](const Notification& notification) {
      return notification.thread != std::this_thread::get_id() &&
             std::find(notification.held.begin(), notification.held.end(), handler) != notification.held.end();
    });
  }

  platform::Mutex m_mutex;
  platform::ConditionVariable m_returned;
  std::vector<oru::RefPtr<Handler>> m_handlers GUARDED_BY(m_mutex);
  std::map<std::uint16_t, bool> m_states GUARDED_BY(m_mutex);
  std::list<Notification> m_notifications GUARDED_BY(m_mutex);
};

// What the round does when the module calls the host.
class HostReactions {
 public:
  // A call of the module into the host's tracer: +1 on the way in, -1 out.
  virtual void ModuleCallsHost(int step) = 0;
  virtual void OnClientTrace(std::string_view text) = 0;
  virtual void OnConnectionEvent(std::string_view serverAddress) = 0;
  virtual void OnConsumersChanged() = 0;
  virtual oru::RefPtr<edr::ISiemTelemetryConsumersManager> Manager() = 0;

 protected:
  ~HostReactions() = default;
};

// The host's tracer, connection sinks and consumers-changed listener.
class HostCallbacks final
    : public oru::BasicObject<HostCallbacks, oru::UncountedObject, oru::ITracer, oru::IConnectedSink,
                              oru::IConnectionErrorSink, oru::IIncorrectSettingsSink,
                              edr::ISiemTelemetryConsumersChangedEvent> {
 public:
  explicit HostCallbacks(HostReactions& round) : m_round(round) {}

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
  oru::Result Connected(std::string_view address, const std::optional<std::string>&) noexcept override {
    m_round.OnConnectionEvent(address);
    return oru::rc::NoError;
  }
  oru::Result ConnectionError(std::uint32_t, std::string_view address,
                              const std::optional<std::string>&) noexcept override {
    m_round.OnConnectionEvent(address);
    return oru::rc::NoError;
  }
  oru::Result IncorrectSettings(std::uint32_t) noexcept override { return oru::rc::NoError; }
  oru::Result OnConsumersChanged() noexcept override {
    m_round.OnConsumersChanged();
    return oru::rc::NoError;
  }

 private:
  struct ModuleCall {
    explicit ModuleCall(HostReactions& round) : round(round) { round.ModuleCallsHost(+1); }
    ~ModuleCall() { round.ModuleCallsHost(-1); }
    HostReactions& round;
  };

  HostReactions& m_round;
};

// A consumer of the host's own: wants every event, keeps the defaults it is
// given, now and then tells the manager it changed, and is slow at times.
class HostConsumer final : public oru::BasicObject<HostConsumer, oru::UncountedObject, edr::ISiemTelemetryConsumer> {
 public:
  HostConsumer(HostReactions& round, std::uint64_t id) : m_round(round), m_id(id) {}
  oru::Result GetConsumerId(std::uint64_t* id) noexcept override {
    *id = m_id;
    return oru::rc::NoError;
  }
  oru::Result SetAllEventTypesDefaultSettings(const std::vector<edr::EventTypeSetting>& settings) noexcept override {
    const InHostCode inHostCode;
    {
      platform::MutexLock lock(&m_mutex);
      m_types = settings;
    }
    if (const auto manager = ThreadRng().Percent(30) ? m_round.Manager() : nullptr) manager->SendConsumerChanged();
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

  HostReactions& m_round;
  const std::uint64_t m_id;
  platform::Mutex m_mutex;
  std::vector<edr::EventTypeSetting> m_types GUARDED_BY(m_mutex);
};

template <class I>
oru::RefPtr<I> Query(const oru::RefPtr<oru::IObject>& object) {
  return oru::QueryInterfaceAs<I>(object.Get());
}

std::u16string TypeName(int type) { return u"Type" + std::u16string(1, static_cast<char16_t>(u'0' + type)); }

// One load of the module: the host's services and the module's objects, the
// host threads that drive them, the unload, and the account of the events.
class Round final : public HostReactions {
 public:
  Round(const Options& options, int index, bool calm)
      : m_options(options), m_index(index), m_calm(calm), m_rng(g_seed * 1000003 + static_cast<std::uint64_t>(index)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "edr_torture_XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_folder = pattern;
    for (const char* what : {"starts", "stops", "settings refused", "notifications", "sink calls", "listener calls"}) {
      m_counts[what];
    }
  }
  ~Round() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  const std::filesystem::path& Folder() const { return m_folder; }

  // False on a failure.
  bool Run(Clock::duration activity) {
    Load();
    const Clock::time_point end = Clock::now() + activity;
    std::vector<std::thread> threads;
    for (int t = 0; t < m_options.threads; ++t) threads.emplace_back([this, t, end] { HostThread(t, end); });
    for (std::thread& thread : threads) thread.join();
    // On a thread that ends before the unload: glibc keeps a library mapped
    // while a thread lives that has a thread_local destructor of it to run.
    std::thread([this] {
      t_hostThread = true;
      t_slot = &g_slots[m_options.threads];
      StopAndRelease();
    }).join();
    if (!Unload()) return false;
    CheckEvents();
    return g_failures == 0;
  }

 private:
  struct TaskState {
    oru::RefPtr<oru::ITask> task;
    oru::RefPtr<edr::task::IEdrTelemetryTaskSettings> settings;
    int startsUnderWay = 0, stopsUnderWay = 0;
    std::uint64_t starts = 0, stops = 0;
    // A Stop that ran alone (no start or other stop of the task meanwhile)
    // returned to an ordered caller, and no start came since: no client of
    // the task may run.
    bool stopped = false;
    // Stopped or reconfigured from a callback on a thread of the module this
    // round: nothing orders the end of that client for the host.
    bool unordered = false;
    bool reported = false;
    bool stopFromSink = false, stoppedFromSink = false;
  };

  void Load() {
    m_baseline = Threads();
    m_module = ::dlopen(m_options.module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_module) throw std::runtime_error(std::string("can't load the module: ") + ::dlerror());
    m_create = reinterpret_cast<oru::CreateObjectFunction>(::dlsym(m_module, oru::kCreateObjectEntryPoint));
    m_canUnload = reinterpret_cast<oru::CanUnloadModuleFunction>(::dlsym(m_module, oru::kCanUnloadModuleEntryPoint));
    const auto create = [&](std::uint32_t classId) {
      oru::IObject* object = nullptr;
      if (oru::Failed(m_create(classId, m_locator.Get(), &object))) throw std::runtime_error("oruCreateObject failed");
      return oru::RefPtr<oru::IObject>::Adopt(object);
    };
    const auto folders = reference_host::DataFolderService::Create();
    for (int i = 0; i < kTasks; ++i) folders->SetFolder(i + 1, m_folder / ("task" + std::to_string(i)));
    m_locator->Register(oru::service_ids::kTracer, oru::RefPtr<oru::ITracer>(m_callbacks.Get()));
    m_locator->Register(folders);
    m_locator->Register(reference_host::ClientCertificateDecryptor::Create());
    m_locator->Register(reference_host::SyslogMessageSuffix::Create());
    m_locator->Register(m_responseServer);
    m_locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(m_callbacks);
    for (int i = 0; i < kHostConsumers; ++i) m_hostConsumers.push_back(HostConsumer::Create(*this, 0x9000000ull + i));

    const auto manager = create(oru::class_ids::kSiemTelemetryConsumersManager);
    Query<edr::ISiemTelemetryConsumersChangedEventSource>(manager)->Subscribe(m_callbacks.Get());
    m_locator->Register(oru::service_ids::kConsumersManager, manager);
    m_locator->Register(oru::service_ids::kClientServiceFactory,
                        create(oru::class_ids::kEdrTelemetryClientServiceFactory));
    std::vector<oru::RefPtr<oru::IObject>> tasks;
    for (int i = 0; i < kTasks; ++i) tasks.push_back(create(oru::class_ids::kEdrTelemetryTask));
    platform::MutexLock lock(&m_mutex);
    m_provider = Query<Provider>(manager);
    m_manager = Query<edr::ISiemTelemetryConsumersManager>(manager);
    for (int i = 0; i < kTasks; ++i) {
      m_tasks[i].task = Query<oru::ITask>(tasks[i]);
      m_tasks[i].settings = Query<edr::task::IEdrTelemetryTaskSettings>(tasks[i]);
    }
  }

  void HostThread(int index, Clock::time_point end) {
    t_hostThread = true;
    t_slot = &g_slots[index];
    Rng rng(g_seed * 7919 + static_cast<std::uint64_t>(m_index) * 104729 + static_cast<std::uint64_t>(index));
    // Every other round (and the calm one), a task is stopped while a
    // notification holds its start handler; and another stopped while the
    // notification that starts it tells the consumers' listener.
    if (index == 0 && (m_calm || m_rng.Percent(50))) {
      Pause(std::chrono::milliseconds(rng.Below(500)));
      ProbeStopDuringNotification(static_cast<int>(rng.Below(kTasks)), rng);
    }
    if (index == 1 && !m_calm && rng.Percent(50)) {
      Pause(std::chrono::milliseconds(rng.Below(500)));
      ProbeStopDuringDelayedStart(static_cast<int>(rng.Below(kTasks)), rng);
    }
    while (!m_calm && Clock::now() < end) Act(rng);
  }

  void Act(Rng& rng) {
    const int task = static_cast<int>(rng.Below(kTasks));
    const std::uint64_t action = rng.Below(100);
    if (action < 8) {
      Start(task);
    } else if (action < 14) {
      Stop(task);
    } else if (action < 16) {
      const oru::RefPtr<oru::ITask> target = Task(task).task;
      const Call call("Pause/Resume");
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
      // The next start subscribes without hearing a state: a later
      // notification adds its consumer, on that notification's thread.
      m_responseServer->Forget(Integration(task));
    } else if (action < 44) {
      const int which = static_cast<int>(rng.Below(kHostConsumers));
      const auto manager = Manager();
      bool added = false;
      {
        platform::MutexLock lock(&m_mutex);
        added = std::exchange(m_hostConsumerAdded[which], !m_hostConsumerAdded[which]);
      }
      const Call call("Add/RemoveTelemetryConsumer");
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

  // A task's ports: two listening, then one refusing.
  std::vector<std::uint16_t> Ports(int task) const {
    const auto& ports = m_receiver.Ports();
    return {ports[2 * task], ports[2 * task + 1], ports[2 * kTasks + task]};
  }
  int TaskOfPort(std::uint16_t port) const {
    for (int task = 0; task < kTasks; ++task) {
      for (const std::uint16_t own : Ports(task)) {
        if (own == port) return task;
      }
    }
    return -1;
  }
  static std::uint64_t ConsumerId(int task) { return 0x10000ull * (task + 1) + task + 1; }
  static std::uint16_t Integration(int task) { return static_cast<std::uint16_t>(ConsumerId(task) & 0xFFFF); }

  EdrTelemetryTaskSettings RandomSettings(int task, Rng& rng) const {
    EdrTelemetryTaskSettings s;
    std::vector<std::uint16_t> ports = Ports(task);
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
    // Room for every event of a run: nothing spooled is dropped for space.
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

  // Settings that keep the task's client trying its refusing port with events
  // of type 0.
  EdrTelemetryTaskSettings RefusedSettings(int task, Rng& rng, bool afterResponseServer) const {
    EdrTelemetryTaskSettings s = RandomSettings(task, rng);
    s.endpoints = {{"127.0.0.1", Ports(task)[2], 0}};
    s.maximumDataTransferTime = 1;
    s.maximumNumberOfEventsInPackage = 10;
    s.maximumNumberOfEventsInHour = 1000000;
    s.useRequestCountLimits = s.onlyTaggedEvents = s.disableIfNotInEventTypes = false;
    s.userDefinedEventTypes = {{TypeName(0), true}};
    s.startAfterResponseServer = afterResponseServer;
    s.gzipCompressionLevel = 5;
    return s;
  }

  // Copies taken under the lock, called outside it.
  TaskState Task(int task) {
    platform::MutexLock lock(&m_mutex);
    return {m_tasks[task].task, m_tasks[task].settings};
  }
  oru::RefPtr<Provider> ProviderRef() {
    platform::MutexLock lock(&m_mutex);
    return m_provider;
  }

  oru::Result Start(int task) {
    oru::RefPtr<oru::ITask> target;
    {
      platform::MutexLock lock(&m_mutex);
      TaskState& state = m_tasks[task];
      if (!(target = state.task)) return oru::rc::NotFound;
      ++state.startsUnderWay;
      ++state.starts;
      state.stopped = false;
    }
    ++m_counts.at("starts");
    const Call call("Start");
    const oru::Result result = target->Start();
    platform::MutexLock lock(&m_mutex);
    --m_tasks[task].startsUnderWay;
    return result;
  }

  oru::Result Stop(int task) {
    oru::RefPtr<oru::ITask> target;
    std::uint64_t starts = 0, stops = 0;
    bool alone = false;
    {
      platform::MutexLock lock(&m_mutex);
      TaskState& state = m_tasks[task];
      if (!(target = state.task)) return oru::rc::NotFound;
      starts = state.starts;
      stops = ++state.stops;
      alone = ++state.stopsUnderWay == 1 && state.startsUnderWay == 0;
    }
    ++m_counts.at("stops");
    const Call call("Stop");
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

  oru::Result SetSettings(int task, const EdrTelemetryTaskSettings& settings) {
    if (!OrderedCaller()) {
      // From a sending thread, a restart goes on on a thread of the module's.
      platform::MutexLock lock(&m_mutex);
      m_tasks[task].unordered = true;
    }
    const auto target = Task(task).settings;
    if (!target) return oru::rc::NotFound;
    const Call call("SetSettings");
    const oru::Result result = target->SetSettings(&settings);
    if (oru::Failed(result)) ++m_counts.at("settings refused");
    return result;
  }

  void GetSettings(int task) {
    if (const auto target = Task(task).settings) {
      const Call call("GetSettings");
      EdrTelemetryTaskSettings settings;
      target->GetSettings(&settings);
    }
  }

  void Fire(int task, bool started, const std::function<void()>& meanwhile) {
    ++m_counts.at("notifications");
    const Call call("response server notification");
    m_responseServer->Notify(Integration(task), started, meanwhile);
  }

  void ProviderCall(Rng& rng) {
    const auto provider = ProviderRef();
    if (!provider) return;
    const Call call("provider");
    std::vector<edr::EventTypeSetting> defaults;
    for (int type = 0; type < kEventTypes; ++type) {
      if (rng.Percent(80)) defaults.push_back({TypeName(type), rng.Percent(70)});
    }
    std::vector<edr::ConsumerEventTypeSettings> settings;
    std::vector<std::uint64_t> ids;
    std::u16string rules;
    bool drop = true;
    const std::uint64_t which = rng.Below(5);
    if (which == 0) provider->ShouldEventBeDropped(static_cast<std::uint32_t>(rng.Below(4)), TypeName(1).c_str(), &drop);
    if (which == 1) provider->GetAllEventTypesSettings(settings);
    if (which == 2) provider->SetAllEventTypesDefaultSettings(defaults);
    if (which == 3) provider->GetSiemTelemetryConsumers(ids);
    if (which == 4) provider->GetIncludeRules(ConsumerId(static_cast<int>(rng.Below(kTasks))), rules);
  }

  // The producer's default event types, every type wanted, as a host pushes
  // them once its task has started: a client decides nothing before.
  void PushDefaults() {
    std::vector<edr::EventTypeSetting> defaults;
    for (int type = 0; type < kEventTypes; ++type) defaults.push_back({TypeName(type), true});
    const Call call("SetAllEventTypesDefaultSettings");
    if (const auto provider = ProviderRef()) provider->SetAllEventTypesDefaultSettings(defaults);
  }

  // Hands `count` events (of `type`, or of any) to the consumer; a task's
  // (task >= 0) takes part in the account when it accepts them.
  void Produce(std::uint64_t consumerId, int task, Rng& rng, int count, int type = -1) {
    const auto provider = ProviderRef();
    for (int k = 0; provider && k < count; ++k) {
      const std::uint64_t sequence = ++g_lastSequence;
      const int eventType = type >= 0 ? type : static_cast<int>(rng.Below(kEventTypes));
      const auto throttlingId = static_cast<std::uint32_t>(rng.Below(4));
      const std::string text = "{\"eventType\":\"Type" + std::to_string(eventType) + "\",\"throttlingId\":" +
                               std::to_string(throttlingId) + ",\"sequence\":\"S#" + std::to_string(sequence) + "#\"}";
      const std::u16string text16(text.begin(), text.end());
      std::vector<edr::Ioa> ioas;
      if (rng.Percent(50)) ioas.push_back({"ioa", 1, rng.Percent(50), false, false});
      const Call call("ShouldEventOrIoaBeDropped/SendEvent");
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

  // A started client keeps trying its refusing port with events to send; a
  // notification holds the task's start handler while the host stops the
  // task and goes on with its own work: the client must not try again.
  void ProbeStopDuringNotification(int task, Rng& rng) {
    if (oru::Failed(SetSettings(task, RefusedSettings(task, rng, true))) || oru::Failed(Start(task))) return;
    Fire(task, true, nullptr);
    PushDefaults();
    Produce(ConsumerId(task), task, rng, 5, 0);
    Fire(task, true, [&] {
      if (oru::Succeeded(Stop(task))) Pause(2500ms);
    });
  }

  // A task started after the response server, whose state the host does not
  // know yet: a notification adds its consumer, and the consumers' listener
  // this tells reads the task while another host thread is stopping it.
  void ProbeStopDuringDelayedStart(int task, Rng& rng) {
    EdrTelemetryTaskSettings settings = RefusedSettings(task, rng, true);
    settings.endpoints = RandomSettings(task, rng).endpoints;
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

  void OnClientTrace(std::string_view text) override {
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
           "'s client still runs after its Stop returned, thread '" + Threads()[::gettid()] +
           "' traced: " + std::string(text));
    }
  }

  void OnConnectionEvent(std::string_view serverAddress) override {
    const InHostCode inHostCode;
    ++m_counts.at("sink calls");
    const std::size_t colon = serverAddress.rfind(':');
    const int task = colon == std::string_view::npos
                         ? -1
                         : TaskOfPort(static_cast<std::uint16_t>(std::atoi(std::string(serverAddress.substr(colon + 1)).c_str())));
    if (task < 0) return;
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
  }

  void OnConsumersChanged() override {
    const InHostCode inHostCode;
    ++m_counts.at("listener calls");
    Rng& rng = ThreadRng();
    platform::MutexLock lock(&m_mutex);
    if (m_holdOn == std::this_thread::get_id() && !m_held) {
      // The delayed-start probe: held until another thread is stopping the task.
      m_held = true;
      m_changed.NotifyAll();
      for (const auto until = Clock::now() + 2s; !m_stopping && Clock::now() < until;) m_changed.WaitUntil(&m_mutex, until);
      lock.Unlock();
      Pause(100ms);
    } else {
      lock.Unlock();
    }
    if (rng.Percent(30)) Pause(std::chrono::microseconds(rng.Below(2000)));
    for (int task = 0; task < kTasks; ++task) {
      if (rng.Percent(60)) GetSettings(task);
    }
    if (rng.Percent(10)) ProviderCall(rng);
  }

  oru::RefPtr<edr::ISiemTelemetryConsumersManager> Manager() override {
    platform::MutexLock lock(&m_mutex);
    return m_manager;
  }

  void StopAndRelease() {
    // Every other round (and the calm one), a task's last stop comes from its
    // own sending thread, just before everything is released.
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
    // The locator's cycles broken.
    m_locator->Unregister(oru::service_ids::kConsumersManager);
    m_locator->Unregister(oru::service_ids::kClientServiceFactory);
    m_responseServer->Clear();
  }

  void ModuleCallsHost(int step) override {
    if (step > 0) ++m_inHost;
    if (m_unloadable && !m_ranAfterUnloadable.exchange(true)) {
      Fail("round " + std::to_string(m_index) + ": thread '" + Threads()[::gettid()] +
           "' runs the module's code after the module answered that it can be unloaded (it called the host's tracer)");
    }
    if (step < 0) --m_inHost;
  }

  // False when the module was not unloaded.
  bool Unload() {
    for (const auto until = Clock::now() + 30s; m_canUnload() != 0 && Clock::now() < until;) Pause(100us);
    if (m_canUnload() != 0) {
      Fail("round " + std::to_string(m_index) + ": the module never answered that it can be unloaded");
      return false;
    }
    // From here on no code of the module may run: no call into the host.
    m_unloadable = true;
    if (m_inHost > 0 && !m_ranAfterUnloadable.exchange(true)) {
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
    if (!left.empty()) Log("round %d: threads there when the module answered it can be unloaded:%s", m_index, left.c_str());
    // A thread on its way out may still be listed a moment. The module stays
    // mapped meanwhile, so that a thread left running shows as one, not as a crash.
    for (const auto until = Clock::now() + 3s; !left.empty() && Clock::now() < until; left = newThreads()) Pause(10ms);
    if (!left.empty()) Fail("round " + std::to_string(m_index) + ": threads of the module outlived its unload:" + left);
    if (!left.empty() || m_ranAfterUnloadable) {
      g_moduleLeftLoaded = true;
      return false;
    }
    ::dlclose(m_module);
    void* again = g_moduleLeftLoaded ? nullptr : ::dlopen(m_options.module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!again) return true;
    ::dlclose(again);
    Fail("round " + std::to_string(m_index) + ": the module stayed mapped after dlclose");
    return false;
  }

  // Every event a task's consumer accepted arrived at the receiver or is in
  // the task's spool.
  void CheckEvents() {
    // A connection made, written to and closed since the receiver's last turn
    // waits in its backlog: two more turns accept and read it.
    const std::uint64_t turns = m_receiver.Turns() + 2;
    for (const auto until = Clock::now() + 5s;
         (m_receiver.Turns() < turns || m_receiver.OpenConnections() > 0) && Clock::now() < until;) {
      Pause(10ms);
    }
    const std::map<std::uint64_t, int> arrived = m_receiver.Arrived();
    const std::set<std::uint64_t> spooled = SpooledSequences(m_folder);
    platform::MutexLock lock(&m_mutex);
    std::string lost, counts;
    std::size_t lostCount = 0, twice = 0;
    for (const auto& [sequence, task] : m_accepted) {
      const auto found = arrived.find(sequence);
      twice += found != arrived.end() && found->second > 1;
      if (found == arrived.end() && !spooled.count(sequence) && lostCount++ < 10) {
        lost += " " + std::to_string(sequence) + " (task " + std::to_string(task) + ")";
      }
    }
    for (const auto& [what, count] : m_counts) counts += "; " + std::to_string(count) + " " + std::string(what);
    Log("round %d: %zu events accepted, %zu arrived, %zu spooled, %zu arrived more than once%s", m_index,
        m_accepted.size(), arrived.size(), spooled.size(), twice, counts.c_str());
    if (lostCount > 0) {
      Fail("round " + std::to_string(m_index) + ": " + std::to_string(lostCount) +
           " accepted events neither arrived nor are in the spool:" + lost);
    }
  }

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
  const oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  const oru::RefPtr<ResponseServer> m_responseServer = ResponseServer::Create();
  const oru::RefPtr<HostCallbacks> m_callbacks = HostCallbacks::Create(*this);
  std::vector<oru::RefPtr<HostConsumer>> m_hostConsumers;
  std::atomic<int> m_inHost{0};
  std::atomic<bool> m_unloadable{false}, m_ranAfterUnloadable{false};
  // For the round's summary; the keys are made before the threads start.
  std::map<std::string_view, std::atomic<int>> m_counts;

  platform::Mutex m_mutex;
  platform::ConditionVariable m_changed;
  TaskState m_tasks[kTasks] GUARDED_BY(m_mutex);
  oru::RefPtr<Provider> m_provider GUARDED_BY(m_mutex);
  oru::RefPtr<edr::ISiemTelemetryConsumersManager> m_manager GUARDED_BY(m_mutex);
  bool m_hostConsumerAdded[kHostConsumers] GUARDED_BY(m_mutex) = {};
  // The delayed-start probe's listener, on this thread, holds still until
  // another thread is stopping the task.
  std::thread::id m_holdOn GUARDED_BY(m_mutex);
  bool m_held GUARDED_BY(m_mutex) = false;
  bool m_stopping GUARDED_BY(m_mutex) = false;
  // Sequence number and task of every event a task's consumer accepted.
  std::vector<std::pair<std::uint64_t, int>> m_accepted GUARDED_BY(m_mutex);
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--keep-going") {
      options.keepGoing = true;
    } else if (i + 1 >= argc) {
      return false;
    } else if (name == "--seconds") {
      options.seconds = std::atoi(argv[++i]);
    } else if (name == "--seed") {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (name == "--threads") {
      options.threads = std::clamp(std::atoi(argv[++i]), 1, 32);
    } else if (name == "--module") {
      options.module = argv[++i];
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
  const Watchdog watchdog(end + 150s);
  Rng rng(options.seed);
  int rounds = 0;
  for (; Clock::now() < end; ++rounds) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    auto round = std::make_unique<Round>(options, rounds, rounds == 0);
    if (round->Run(std::min(left, std::chrono::milliseconds(2000 + rng.Below(2000))))) continue;
    // The module may still be loaded, with threads that call the round's
    // objects: nothing of the round is torn down; its folder stays for a look.
    Log("round %d FAILED, its folder: %s", rounds, round.release()->Folder().c_str());
    if (!options.keepGoing) break;
  }
  Log("%d rounds, %s", rounds, g_failures == 0 ? "no failure" : "FAILED");
  std::fflush(stderr);
  if (g_failures != 0) std::_Exit(1);
  return 0;
}
