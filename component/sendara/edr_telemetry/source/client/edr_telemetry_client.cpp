#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include <boost/json/serialize.hpp>

#include "component/oru/exception_to_result.h"
#include "component/oru/result_code.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/probes.h"
#include "component/platform/system_error.h"
#include "component/platform/this_thread.h"
#include "component/sendara/base/detail/base_client/polling_thread.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/stop_callback.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/trace_scope.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_json.h"

namespace sendara::edr_telemetry {
namespace {

using base::TraceLevel;

constexpr const char* kWorkerThreadName = "EdrTelemetry";

// The serial of the client whose sending threads the calling thread belongs
// to, 0 for none. Plain data: a thread-local with a destructor would keep
// the module loaded for as long as host threads live.
thread_local std::uint64_t t_sendingFor = 0;

std::uint64_t NextSerial() noexcept {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Runs the polling client's passes on a thread marked as one of the
// client's own, so that the client can tell when a connection event sink
// calls it back from there.
class OwnThreadClient final : public base::IPollingClient {
 public:
  OwnThreadClient(std::shared_ptr<base::IPollingClient> client, std::uint64_t owner)
      : m_client(std::move(client)), m_owner(owner) {}

  void Process(base::StopToken stopToken) override {
    t_sendingFor = m_owner;
    m_client->Process(std::move(stopToken));
  }
  std::uint32_t GetSleepTime() override { return m_client->GetSleepTime(); }
  std::shared_ptr<platform::Event> GetWakeupEvent() override { return m_client->GetWakeupEvent(); }

 private:
  const std::shared_ptr<base::IPollingClient> m_client;
  const std::uint64_t m_owner;
};

// The exception being handled, traced at level 300 with its whole chain.
void TraceError(oru::ITracer* tracer, std::string_view function, std::string_view what) noexcept {
  try {
    std::string prefix = "[";
    prefix += function;
    prefix += "]";
    if (!what.empty()) {
      prefix += " ";
      prefix += what;
    }
    oru::ExceptionToResult(tracer, prefix);
  } catch (...) {
  }
}

// The answer of a host-facing operation for the exception being handled.
oru::Result Fail(oru::ITracer* tracer, std::string_view function) noexcept {
  try {
    std::string prefix = "[";
    prefix += function;
    prefix += "]";
    return oru::ExceptionToResult(tracer, prefix);
  } catch (...) {
    return oru::ExceptionToResult(nullptr, {});
  }
}

bool StartSettingsDiffer(const EdrTelemetryClientSettings& a, const EdrTelemetryClientSettings& b) {
  return a.gzipCompressionLevel != b.gzipCompressionLevel ||
         a.persistentTelemetryPartSize != b.persistentTelemetryPartSize ||
         a.persistentTelemetryPartCount != b.persistentTelemetryPartCount ||
         a.persistentTelemetryPartRemoveCount != b.persistentTelemetryPartRemoveCount;
}

std::string TunnelText(const std::optional<std::string>& tunnel) { return tunnel ? *tunnel : "<empty>"; }

std::string EndpointsText(const std::vector<EdrTelemetryEndpoint>& endpoints) {
  boost::json::array array;
  for (const EdrTelemetryEndpoint& endpoint : endpoints) array.push_back(EndpointToTraceJson(endpoint));
  return boost::json::serialize(array);
}

}  // namespace

EdrTelemetryClient::EdrTelemetryClient(oru::RefPtr<oru::ITracer> tracer, Parts parts)
    : m_shared(std::make_shared<Shared>(std::move(tracer), std::move(parts), NextSerial())) {
  const Parts& p = m_shared->parts;
  SENDARA_CONTRACT(p.settingsProvider && p.storage && p.requestSenderFactory && p.handler &&
                       p.telemetryClientFactory && p.filter && p.throttler,
                   "client parts");
  // The marker events' provider stays registered while a client of the
  // process lives.
  platform::Probes::Register();
}

EdrTelemetryClient::~EdrTelemetryClient() {
  SENDARA_TRACE(m_shared->tracer, TraceLevel::kInfo, "call");
  try {
    platform::MutexLock lock(&m_mutex);
    // Events handed in after the worker ended, or to a client never
    // started; a worker that ends by itself moves them on its way out.
    if (StopLocked()) SpoolQueue(*m_shared);
  } catch (...) {
    TraceError(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME, "stop failed:");
  }
  platform::Probes::Unregister();
}

oru::Result EdrTelemetryClient::SetSettings(const EdrTelemetryClientSettings& settings) noexcept {
  oru::ITracer* const tracer = m_shared->tracer.Get();
  try {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "call");
    const Parts& parts = m_shared->parts;
    // Refused before anything changes, like every other invalid setting.
    ConvertGzipCompressionLevel(settings.gzipCompressionLevel);
    const EdrTelemetryClientSettings old = parts.settingsProvider->GetSettings();
    parts.settingsProvider->SetSettings(settings);

    if (!m_shared->started) return oru::rc::NoError;
    const EdrTelemetryClientSettings current = parts.settingsProvider->GetSettings();
    if (IsNeedRestart(tracer, old, current)) {
      if (OnSendingThread()) {
        try {
          RunDetached(&EdrTelemetryClient::Restart);
        } catch (...) {
          // Refused as a whole: the client goes on as it was.
          parts.settingsProvider->SetSettings(old);
          throw;
        }
        return oru::rc::NoError;
      }
      platform::MutexLock lock(&m_mutex);
      // Stopped meanwhile: the next start reads the new settings anyway.
      if (!m_shared->started) return oru::rc::NoError;
      StopLocked();
      StartLocked();
    } else if (StartSettingsDiffer(old, current)) {
      SENDARA_TRACE(tracer, TraceLevel::kInfo,
                    "gzip level and persistent storage limits are stored, they apply at the next start");
    }
    return oru::rc::NoError;
  } catch (...) {
    return Fail(tracer, SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryClient::SetExcludedEventTypes(const std::vector<std::u16string>& eventTypes) noexcept {
  try {
    SENDARA_TRACE(m_shared->tracer, TraceLevel::kInfo, "");
    m_shared->parts.settingsProvider->SetExcludedEventTypes(eventTypes);
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryClient::Start() noexcept {
  try {
    SENDARA_TRACE_SCOPE(m_shared->tracer, TraceLevel::kInfo);
    if (OnSendingThread()) {
      RunDetached(&EdrTelemetryClient::Start);
      return oru::rc::NoError;
    }
    platform::MutexLock lock(&m_mutex);
    StartLocked();
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryClient::Restart() noexcept {
  try {
    SENDARA_TRACE_SCOPE(m_shared->tracer, TraceLevel::kInfo);
    if (OnSendingThread()) {
      RunDetached(&EdrTelemetryClient::Restart);
      return oru::rc::NoError;
    }
    // One hold of the lock around both steps: nothing starts or stops in
    // between.
    platform::MutexLock lock(&m_mutex);
    StopLocked();
    StartLocked();
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryClient::Stop() noexcept {
  try {
    SENDARA_TRACE_SCOPE(m_shared->tracer, TraceLevel::kInfo);
    m_shared->stopped = true;
    if (OnSendingThread()) {
      // The lock may be held by a restart waiting for this very thread.
      RunDetached(&EdrTelemetryClient::Stop);
      return oru::rc::NoError;
    }
    platform::MutexLock lock(&m_mutex);
    if (StopLocked()) {
      SpoolQueue(*m_shared);
      DropQueued(*m_shared);
    }
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

std::shared_ptr<const telemetry::DeliveryCounters> EdrTelemetryClient::Counters() const noexcept {
  return m_shared->parts.telemetryClientFactory->Counters();
}

oru::Result EdrTelemetryClient::SendTelemetry(std::u16string_view event) noexcept {
  try {
    SENDARA_TRACE(m_shared->tracer, TraceLevel::kDetail, "");
    // Converted once for both when the decision just made on this thread
    // was on this very text.
    const telemetry::EventParserPool::Decided decided = m_parsers.TakeDecided(event);
    if (const std::optional<std::string_view> utf8 = decided.Utf8()) {
      m_shared->parts.handler->SendTelemetryUtf8(*utf8);
    } else {
      m_shared->parts.handler->SendTelemetry(event);
    }
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryClient::ShouldDropEvent(std::uint32_t throttlingId, std::u16string_view eventType,
                                                bool* shouldBeDropped) noexcept {
  oru::ITracer* const tracer = m_shared->tracer.Get();
  if (!shouldBeDropped) return oru::rc::InvalidArgument;
  try {
    const Parts& parts = m_shared->parts;
    if (parts.filter->IsEventTypeFiltered(eventType)) {
      SENDARA_TRACE(tracer, TraceLevel::kInfo, "EventType '" << base::ToUtf8(eventType) << "' is filtered");
      *shouldBeDropped = true;
      return oru::rc::NoError;
    }
    const bool drop = parts.throttler->IsEventBlocked(throttlingId);
    // A dropped event still counts towards the throttler's statistics.
    if (drop) parts.throttler->IsThrottled(throttlingId, true);
    SENDARA_TRACE(tracer, TraceLevel::kDetail,
                  "out: eventType = " << base::ToUtf8(eventType) << ", throttlingId = " << throttlingId
                                      << ", shouldBeDropped " << (drop ? "yes" : "no"));
    *shouldBeDropped = drop;
    return oru::rc::NoError;
  } catch (...) {
    return Fail(tracer, SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryClient::ShouldDropEventOrIoa(std::uint32_t throttlingId, std::u16string_view eventType,
                                                     std::u16string_view event, std::vector<Ioa>& ioas,
                                                     bool* shouldBeDropped) noexcept {
  if (!shouldBeDropped) return oru::rc::InvalidArgument;
  try {
    *shouldBeDropped = ShouldDropEventOrIoaImpl(throttlingId, eventType, event, ioas);
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_shared->tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

bool EdrTelemetryClient::ShouldDropEventOrIoaImpl(std::uint32_t throttlingId, std::u16string_view eventType,
                                                  std::u16string_view event, std::vector<Ioa>& ioas) {
  oru::ITracer* const tracer = m_shared->tracer.Get();
  const Parts& parts = m_shared->parts;
  if (parts.filter->IsEventTypeFiltered(eventType)) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "EventType '" << base::ToUtf8(eventType) << "' is filtered");
    return true;
  }
  if (parts.throttler->IsEventBlocked(throttlingId)) {
    parts.throttler->IsThrottled(throttlingId, true);
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "EventType '" << base::ToUtf8(eventType) << "' is throttled");
    return true;
  }
  if (parts.filter->IsTagFiltered(ioas)) {
    SENDARA_TRACE(tracer, TraceLevel::kDetail, "Has no markable ioas");
    return true;
  }
  // Parsed once for both rule tests; the document's memory goes back to the
  // pool on return, with the event's text kept for its hand-over when it is
  // not dropped.
  telemetry::EventParserPool::Parsed parsed = m_parsers.Parse(event);
  if (parts.filter->IsDropFiltered(parsed.Fields()) || parts.filter->IsIoaFiltered(parsed.Fields(), ioas)) {
    return true;
  }
  const bool drop = parts.throttler->IsThrottled(throttlingId, throttlingId != 0);
  SENDARA_TRACE(tracer, TraceLevel::kDetail,
                "throttlingId = " << throttlingId << ", shouldBeDropped " << (drop ? "yes" : "no"));
  if (!drop) parsed.KeepForHandOver();
  return drop;
}

bool EdrTelemetryClient::IsNeedRestart(oru::ITracer* tracer, const EdrTelemetryClientSettings& oldSettings,
                                       const EdrTelemetryClientSettings& newSettings) {
  bool needRestart = false;
  if (oldSettings.serverCerts != newSettings.serverCerts) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "server certs changes");
    needRestart = true;
  }
  if (oldSettings.validTlsErrors != newSettings.validTlsErrors) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "valid tls errors changed");
    needRestart = true;
  }
  const auto& oldCert = oldSettings.clientCert;
  const auto& newCert = newSettings.clientCert;
  if (oldCert.has_value() != newCert.has_value() ||
      (oldCert && (oldCert->certPublic != newCert->certPublic || oldCert->keyPrivate != newCert->keyPrivate))) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "client cert changes");
    needRestart = true;
  }
  const auto& oldEndpoints = oldSettings.endpoints;
  const auto& newEndpoints = newSettings.endpoints;
  const bool endpointsDiffer =
      oldEndpoints.size() != newEndpoints.size() ||
      !std::equal(oldEndpoints.begin(), oldEndpoints.end(), newEndpoints.begin(),
                  [](const EdrTelemetryEndpoint& a, const EdrTelemetryEndpoint& b) {
                    return a.protocol == b.protocol && a.endpoint == b.endpoint;
                  });
  if (endpointsDiffer) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo,
                  "endpoints changes: " << EndpointsText(oldEndpoints) << " -> " << EndpointsText(newEndpoints));
    needRestart = true;
  }
  if (oldSettings.tunnel != newSettings.tunnel) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo,
                  "tunnel changes: " << TunnelText(oldSettings.tunnel) << " -> " << TunnelText(newSettings.tunnel));
    needRestart = true;
  }
  SENDARA_TRACE(tracer, TraceLevel::kInfo, "out, need restart client = " << (needRestart ? "true" : "false"));
  return needRestart;
}

std::uint32_t EdrTelemetryClient::ConvertGzipCompressionLevel(std::uint32_t level) {
  SENDARA_CONTRACT(level == 0 || level == 5 || level == 9, "gzip compression level should be 0, 5 or 9");
  return level;
}

void EdrTelemetryClient::StartLocked() {
  oru::ITracer* const tracer = m_shared->tracer.Get();
  if (m_shared->stopped) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "stopped for good");
    return;
  }
  if (m_shared->started) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "already started");
    return;
  }
  // A worker that ended by itself is gone but not yet joined.
  m_worker.reset();
  ApplyStartSettingsLocked();

  // A stop source of its own for each worker: a stop cannot be taken back,
  // and one kept across a restart would end the next worker at once.
  auto worker = std::make_unique<Worker>();
  const base::StopToken token = worker->stopSource.GetToken();
  // Set before the thread runs, so that a worker that ends at once can clear it.
  m_shared->started = true;
  try {
    worker->thread = std::make_unique<platform::Thread>(
        [shared = m_shared, token] { Polling(shared, token); });
  } catch (const std::system_error& error) {
    m_shared->started = false;
    base::ThrowCheckFailed<base::tools_exception>(platform::ResultFromSystemError(error), SENDARA_FUNCTION_NAME,
                                                  __FILE__, __LINE__, "can't start polling");
  }
  m_worker = std::move(worker);
}

bool EdrTelemetryClient::StopLocked() {
  oru::ITracer* const tracer = m_shared->tracer.Get();
  SENDARA_TRACE_SCOPE(tracer, TraceLevel::kInfo);
  bool ended = true;
  if (m_worker) {
    m_worker->stopSource.RequestStop();
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "wait worker...");
    if (OnSendingThread() || m_worker->thread->IsCurrent()) {
      // The worker may be waiting for this very thread: it ends by itself,
      // with what it uses shared, and moves the queue into storage on its
      // way out.
      m_worker->thread->Detach();
      ended = false;
    } else {
      m_worker->thread->Join();
    }
    m_worker.reset();
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "worker finished");
  }
  m_shared->started = false;
  return ended;
}

bool EdrTelemetryClient::OnSendingThread() const noexcept { return t_sendingFor == m_shared->serial; }

void EdrTelemetryClient::RunDetached(oru::Result (EdrTelemetryClient::*operation)() noexcept) {
  SENDARA_TRACE(m_shared->tracer, TraceLevel::kInfo, "called on a sending thread, goes on on a thread of its own");
  try {
    // Counted like every thread of the module until it has ended.
    platform::Thread([self = oru::RefPtr<EdrTelemetryClient>(this), operation] { ((*self).*operation)(); }).Detach();
  } catch (const std::system_error& error) {
    base::ThrowCheckFailed<base::tools_exception>(platform::ResultFromSystemError(error), SENDARA_FUNCTION_NAME,
                                                  __FILE__, __LINE__, "can't start a thread");
  }
}

void EdrTelemetryClient::ApplyStartSettingsLocked() {
  const Parts& parts = m_shared->parts;
  const EdrTelemetryClientSettings settings = parts.settingsProvider->GetSettings();
  parts.requestSenderFactory->SetGzipLevel(ConvertGzipCompressionLevel(settings.gzipCompressionLevel));
  parts.storage->SetLimits(base::storages::PartitionSizeBytes(settings.persistentTelemetryPartSize),
                           settings.persistentTelemetryPartCount, settings.persistentTelemetryPartRemoveCount);
}

void EdrTelemetryClient::SpoolQueue(Shared& shared) noexcept {
  try {
    // An offline pass with a stop that never comes moves the whole queue.
    const base::StopSource neverStopped;
    shared.parts.telemetryClientFactory->Create(false)->Process(neverStopped.GetToken());
  } catch (...) {
    TraceError(shared.tracer.Get(), SENDARA_FUNCTION_NAME, "queue not moved into storage:");
  }
}

void EdrTelemetryClient::DropQueued(Shared& shared) noexcept {
  try {
    const telemetry::ITelemetryQueue::Records left = shared.parts.telemetryClientFactory->Queue()->PopFront(0);
    if (left.empty()) return;
    shared.parts.telemetryClientFactory->Counters()->lostUnspooled += left.size();
    SENDARA_TRACE(shared.tracer, TraceLevel::kError,
                  left.size() << " events lost: the client stopped and the spool did not take them");
  } catch (...) {
    TraceError(shared.tracer.Get(), SENDARA_FUNCTION_NAME, "");
  }
}

void EdrTelemetryClient::Polling(std::shared_ptr<Shared> shared, base::StopToken stopToken) noexcept {
  const std::uint64_t owner = shared->serial;
  platform::SetCurrentThreadName(kWorkerThreadName);
  t_sendingFor = owner;
  oru::ITracer* const tracer = shared->tracer.Get();
  try {
    const auto wakeupEvent = std::make_shared<platform::Event>(platform::Event::ResetMode::kAuto);
    const base::StopCallback stopCallback(
        stopToken,
        [tracer, &wakeupEvent] {
          SENDARA_TRACE(tracer, TraceLevel::kInfo, "stopped, set wakeupEvent");
          SENDARA_CHECK_RESULT(wakeupEvent->Set(), base::tools_exception, "can't set event");
        },
        shared->tracer);

    while (!stopToken.StopRequested()) {
      try {
        StartClientsPolling(*shared, stopToken);
      } catch (...) {
        TraceError(tracer, SENDARA_FUNCTION_NAME, "");
      }

      // Queued events keep moving into storage while the worker waits. Without
      // a mover this time, the wait still comes and the next cycle still runs.
      std::unique_ptr<base::PollingThread> mover;
      try {
        mover = std::make_unique<base::PollingThread>(
            shared->tracer,
            std::make_shared<OwnThreadClient>(shared->parts.telemetryClientFactory->Create(false), owner),
            [tracer](std::exception_ptr error) {
              try {
                std::rethrow_exception(error);
              } catch (const base::stop_exception&) {
                SENDARA_TRACE(tracer, TraceLevel::kInfo, "client stopped");
                return false;
              } catch (...) {
                SENDARA_TRACE(tracer, TraceLevel::kWarning,
                              "failed client processing, continue polling: " << oru::DescribeCurrentException());
                return true;
              }
            });
      } catch (...) {
        TraceError(tracer, SENDARA_FUNCTION_NAME, "no offline mover during this wait:");
      }
      WaitNextPolling(*shared, *wakeupEvent);
      mover.reset();
    }
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "polling stopped");
  } catch (...) {
    TraceError(tracer, SENDARA_FUNCTION_NAME, "polling ended:");
  }
  // No sender is left: what the queue holds goes to storage, for the next
  // worker or the next client on this data folder.
  SpoolQueue(*shared);
  // Ended by itself: the next Start makes a new worker.
  if (!stopToken.StopRequested()) shared->started = false;
  t_sendingFor = 0;
}

void EdrTelemetryClient::StartClientsPolling(Shared& shared, const base::StopToken& stopToken) {
  const std::uint64_t owner = shared.serial;
  oru::ITracer* const tracer = shared.tracer.Get();
  // A stop that came just before would still connect, and may report it.
  if (stopToken.StopRequested()) return;

  const auto cycleEvent = std::make_shared<platform::Event>(platform::Event::ResetMode::kManual);
  const base::StopCallback stopCallback(
      stopToken,
      [tracer, &cycleEvent] {
        SENDARA_TRACE(tracer, TraceLevel::kInfo, "stopped, set wakeupEvent");
        SENDARA_CHECK_RESULT(cycleEvent->Set(), base::tools_exception, "can't set event");
      },
      shared.tracer);

  std::shared_ptr<telemetry::TelemetryClient> client = shared.parts.telemetryClientFactory->Create(true);
  // Written on the polling thread, read here after it has been joined.
  std::exception_ptr recorded;
  bool ended = false;
  {
    base::PollingThread polling(
        shared.tracer, std::make_shared<OwnThreadClient>(std::move(client), owner),
        [tracer, &cycleEvent, &recorded](std::exception_ptr error) {
          try {
            std::rethrow_exception(error);
          } catch (const base::connection_exception&) {
            TraceError(tracer, SENDARA_FUNCTION_NAME, "");
            recorded = error;
            SENDARA_CHECK_RESULT(cycleEvent->Set(), base::tools_exception, "can't set event");
            return false;
          } catch (const base::stop_exception&) {
            SENDARA_TRACE(tracer, TraceLevel::kInfo, "client stopped");
            return false;
          } catch (...) {
            SENDARA_TRACE(tracer, TraceLevel::kWarning,
                          "failed client processing, continue polling: " << oru::DescribeCurrentException());
            return true;
          }
        },
        // A worker that ended out of the handler's reach sends nothing more.
        [&cycleEvent, &ended] {
          ended = true;
          cycleEvent->Set();
        });
    const oru::Result waited = cycleEvent->Wait(platform::Event::kInfinite);
    SENDARA_CHECK(!oru::Failed(waited), base::tools_exception, waited, "wait status failed");
  }
  if (recorded) std::rethrow_exception(recorded);
  if (ended && !stopToken.StopRequested()) {
    SENDARA_THROW(base::tools_exception, oru::rc::UnspecifiedError, "sending ended without a connection failure");
  }
}

void EdrTelemetryClient::WaitNextPolling(Shared& shared, platform::Event& wakeupEvent) {
  const std::uint32_t timeout =
      shared.parts.settingsProvider->GetSettings().telemetryTransferSettings.maximumDataTransferTime;
  SENDARA_TRACE(shared.tracer, TraceLevel::kInfo, "try reconnecting after timeout = " << timeout << "ms");
  const oru::Result waited = wakeupEvent.Wait(timeout);
  SENDARA_CHECK(!oru::Failed(waited), base::tools_exception, waited, "wait status failed");
  if (waited == platform::Event::kSignalled) SENDARA_TRACE(shared.tracer, TraceLevel::kInfo, "wakeup by set event");
}

}  // namespace sendara::edr_telemetry
