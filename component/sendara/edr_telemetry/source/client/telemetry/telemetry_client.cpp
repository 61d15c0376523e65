#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_client.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <boost/json/serialize.hpp>

#include "component/oru/exception_to_result.h"
#include "component/platform/probes.h"
#include "component/sendara/base/detail/common/bad_request_exception.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::edr_telemetry::telemetry {
namespace {

using base::TraceLevel;
using base::storages::PartitionedId;

constexpr const char* kClientName = "sendara::edr_telemetry::telemetry::TelemetryClient::TelemetryClient";

void ThrowIfStopRequested(const base::StopToken& stopToken) {
  if (stopToken.StopRequested()) {
    SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "stop token requested");
  }
}

std::string IdRange(const ITelemetryQueue::Records& events) {
  if (events.empty()) return "[]";
  return "[" + std::to_string(events.front().Id()) + ", " + std::to_string(events.back().Id()) + "]";
}

void TraceCurrentException(oru::ITracer* tracer, std::string_view function) noexcept {
  try {
    oru::ExceptionToResult(tracer, "[" + std::string(function) + "]");
  } catch (...) {
  }
}

}  // namespace

TelemetryClient::TelemetryClient(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<IRequestSender> requestSender,
                                 std::shared_ptr<base::storages::PartitionedValueStorage> storage,
                                 std::shared_ptr<ITelemetryQueue> queue,
                                 const std::shared_ptr<ITelemetryHandler>& handler,
                                 const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& settingsProvider,
                                 std::shared_ptr<std::atomic<bool>> storageFailing,
                                 std::shared_ptr<DeliveryCounters> counters)
    : m_tracer(std::move(tracer)),
      m_requestSender(std::move(requestSender)),
      m_storage(std::move(storage)),
      m_queue(std::move(queue)),
      m_storageFailing(storageFailing ? std::move(storageFailing) : std::make_shared<std::atomic<bool>>(false)),
      m_counters(counters ? std::move(counters) : std::make_shared<DeliveryCounters>()),
      m_wakeupEvent(std::make_shared<platform::Event>(platform::Event::ResetMode::kAuto)) {
  SENDARA_CONTRACT(m_storage != nullptr, "storage");
  SENDARA_CONTRACT(m_queue != nullptr, "queue");
  SENDARA_CONTRACT(handler != nullptr, "handler");
  SENDARA_CONTRACT(settingsProvider != nullptr, "settings provider");
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "online mode = " << (m_requestSender ? "yes" : "no"));

  m_queueFullSubscription = handler->Subscribe(kClientName, [event = m_wakeupEvent] {
    SENDARA_CHECK_RESULT(event->Set(), base::tools_exception, "can't set event");
  });
  m_settingsSubscription = settingsProvider->SubscribeAndApply(
      kClientName, [this](const EdrTelemetryClientSettings& settings) { ApplySettings(settings); });
}

TelemetryClient::~TelemetryClient() {
  if (m_settingsSubscription) m_settingsSubscription->Unsubscribe();
  if (m_queueFullSubscription) m_queueFullSubscription->Unsubscribe();
}

void TelemetryClient::ApplySettings(const EdrTelemetryClientSettings& settings) {
  const TelemetryTransferSettings& transfer = settings.telemetryTransferSettings;
  m_sleepTime = transfer.maximumDataTransferTime;
  // Validation keeps the package size above 0; a budget of 0 would never let
  // the queue be sent.
  m_packageSize = static_cast<std::uint32_t>(std::max(transfer.maximumNumberOfEventsInPackage, 1));
  m_packagesPerPass = std::max(transfer.maxPacketsInFallbackSendIteration, 1u);
}

void TelemetryClient::Process(base::StopToken stopToken) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "begin");
  platform::Probes::PassBegin(this);

  if (m_requestSender) {
    const std::uint32_t limit = m_packagesPerPass;
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "Current limit: " << limit);
    try {
      std::uint32_t sent = 0;
      try {
        sent = ProcessStorage(stopToken, limit);
        if (m_storageFailing->exchange(false)) {
          SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "stored events can be read again");
        }
      } catch (const base::internal_exception&) {
        // A sender's own failure ends the pass as before.
        if (std::exchange(m_sending, false)) throw;
        ReportStorageFailure();
      }
      const std::uint32_t remaining = sent < limit ? limit - sent : 0;
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "Online Queue limit: " << remaining);
      ProcessQueueOnline(stopToken, remaining);
    } catch (const base::internal_exception&) {
      TraceCurrentException(m_tracer.Get(), SENDARA_FUNCTION_NAME);
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "queue processing failed, process the queue offline");
      ProcessQueueOffline(stopToken);
    }
    m_requestSender->WaitAndCloseConnections();
  } else {
    ProcessQueueOffline(stopToken);
  }

  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end");
  platform::Probes::PassEnd(this);
}

std::uint32_t TelemetryClient::ProcessStorage(const base::StopToken& stopToken, std::uint32_t packagesLimit) {
  auto rows = m_storage->CreateIterator();
  if (!rows.Next()) {
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "storage is empty");
    return 0;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "begin");
  const std::uint32_t packageSize = m_packageSize;
  // The package's texts back to back, where each ends, and their rows.
  std::string texts;
  std::vector<std::size_t> ends;
  std::vector<PartitionedId> ids;
  std::uint32_t packages = 0;
  do {
    const base::storages::PartitionedRow& row = rows.Current();
    ThrowIfStopRequested(stopToken);
    const std::optional<std::string_view> text = m_storedValues.Text(row.value);
    if (!text) {
      // One unreadable row must not stop delivery from storage for good: it
      // is dropped (its content never reaches the trace) and the rows around
      // it go on.
      SENDARA_TRACE(m_tracer, TraceLevel::kError,
                    "stored event cannot be read and is dropped: partition = " << row.id.partitionId
                                                                               << "; id = " << row.id.id);
      const PartitionedId bad = row.id;
      DeleteIds(std::span<const PartitionedId>(&bad, 1));
      m_storage->CountLostRows(1);
      continue;
    }
    texts += *text;
    ends.push_back(texts.size());
    ids.push_back(row.id);
    if (ids.size() >= packageSize) {
      SendStoredPackage(texts, ends, ids, stopToken);
      if (++packages >= packagesLimit) break;
    }
  } while (rows.Next());
  if (!ids.empty()) {
    SendStoredPackage(texts, ends, ids, stopToken);
    ++packages;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end");
  return packages;
}

void TelemetryClient::SendStoredPackage(std::string& texts, std::vector<std::size_t>& ends,
                                        std::vector<PartitionedId>& ids, const base::StopToken& stopToken) {
  std::vector<std::string_view> batch;
  batch.reserve(ends.size());
  for (std::size_t k = 0; k < ends.size(); ++k) {
    const std::size_t begin = k ? ends[k - 1] : 0;
    batch.emplace_back(texts.data() + begin, ends[k] - begin);
  }
  std::uint64_t sent = 0;
  try {
    Send(batch, stopToken, sent);
  } catch (...) {
    // Rows handed over are deleted, so that they are not sent again; the
    // others stay for a later pass.
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "Send failed, events sent: " << sent);
    if (sent > 0) DeleteIds(std::span<const PartitionedId>(ids).first(std::min<std::size_t>(sent, ids.size())));
    throw;
  }
  DeleteIds(ids);
  texts.clear();
  ends.clear();
  ids.clear();
}

void TelemetryClient::ProcessQueueOnline(const base::StopToken& stopToken, std::uint32_t packagesLimit) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "Backlog send starting limits: packagesSendLimit = " << packagesLimit << ";");
  // A package at a time leaves the queue: the events meanwhile queued and
  // those of the pass stay within the queue's bound together, where a pass
  // that took the whole queue would hold up to twice it.
  const std::uint32_t packageSize = m_packageSize;
  // Events of handled packages that their sender did not count as handed
  // over: they go back, in order, ahead of the rest.
  Records leftovers;
  Records package;
  std::uint64_t sentInPackage = 0;
  std::vector<std::string_view> batch;
  batch.reserve(packageSize);
  try {
    for (std::uint32_t packages = 0; packages < packagesLimit; ++packages) {
      ThrowIfStopRequested(stopToken);
      package = m_queue->PopFront(packageSize);
      if (package.empty()) break;
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                    "begin: size = " << package.size() << "; event ids = " << IdRange(package));
      for (const TelemetryEventRecord& event : package) batch.push_back(event.Text());
      sentInPackage = 0;
      const bool kept = Send(batch, stopToken, sentInPackage);
      if (kept && sentInPackage < batch.size()) {
        for (std::size_t k = sentInPackage; k < package.size(); ++k) leftovers.push_back(std::move(package[k]));
      }
      batch.clear();
      sentInPackage = 0;
      // The queue held less than a package: what came meanwhile waits for
      // the next pass rather than going out in small packages.
      const bool drained = package.size() < packageSize;
      package.clear();
      if (drained) break;
    }
  } catch (...) {
    // Whatever ended the pass: from the first event of this package that the
    // sender did not count, everything goes back.
    PutBack(package, std::min<std::uint64_t>(sentInPackage, batch.size()), std::move(leftovers));
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end: back events to queue");
    throw;
  }
  PutBack(package, 0, std::move(leftovers));
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end");
}

void TelemetryClient::PutBack(Records& events, std::size_t from, Records leftovers) {
  const std::size_t rest = from < events.size() ? events.size() - from : 0;
  if (rest == 0 && leftovers.empty()) return;
  SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                "back events to queue: size not processed = " << rest + leftovers.size());
  if (leftovers.empty()) {
    events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(std::min(from, events.size())));
    m_queue->PushFront(std::move(events));
    return;
  }
  for (std::size_t k = from; k < events.size(); ++k) leftovers.push_back(std::move(events[k]));
  m_queue->PushFront(std::move(leftovers));
}

void TelemetryClient::ProcessQueueOffline(const base::StopToken& stopToken) {
  // Stored a chunk at a time, taken from the queue a chunk at a time: the
  // stored form of a whole full queue would double the memory the queue
  // takes, a storage that refuses would be handed all of it on every pass,
  // and one insert would fill a partition far past its size limit. The pass
  // stores what the queue held when it began; events that come meanwhile
  // wait for the next pass, which tries an endpoint first.
  std::uint64_t toStore = m_queue->Size();
  while (toStore > 0) {
    ThrowIfStopRequested(stopToken);
    Records chunk = m_queue->PopFront(std::min<std::uint64_t>(toStore, kStoreChunkEvents));
    if (chunk.empty()) break;
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "begin: size = " << chunk.size() << "; event ids = " << IdRange(chunk));
    toStore -= std::min<std::uint64_t>(toStore, chunk.size());
    StoreChunk(chunk, stopToken);
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end");
}

void TelemetryClient::StoreChunk(Records& chunk, const base::StopToken& stopToken) {
  std::vector<std::string_view> items;
  std::size_t itemBytes = 0;
  std::size_t stored = 0;  // chunk[0, stored) is in storage
  try {
    for (const TelemetryEventRecord& event : chunk) {
      ThrowIfStopRequested(stopToken);
      items.push_back(event.Text());
      itemBytes += event.Text().size();
      if (itemBytes < kStoreChunkBytes) continue;
      SaveEvents(items);
      stored += items.size();
      items.clear();
      itemBytes = 0;
    }
    if (!items.empty()) SaveEvents(items);
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    if (!stopToken.StopRequested()) ++m_counters->spoolFailures;
    const std::size_t taken = stored + items.size();
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "back events to queue: sent = " << taken << "; size not processed = " << chunk.size() - taken);
    // The taken events are stored with one more try; whatever is not stored
    // goes back to the queue, so that a storage failure loses nothing.
    if (!items.empty()) {
      try {
        SaveEvents(items);
        stored = taken;
      } catch (...) {
        TraceCurrentException(m_tracer.Get(), SENDARA_FUNCTION_NAME);
      }
    }
    PutBack(chunk, stored, {});
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end: back events to queue");
    std::rethrow_exception(failure);
  }
}

void TelemetryClient::ReportStorageFailure() {
  // The backlog waits; the queue still goes out while an endpoint takes it.
  // Once per outage: every pass of it would say the same.
  if (m_storageFailing->exchange(true)) return;
  ++m_counters->spoolFailures;
  try {
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) +
                                               "] stored events cannot be read, the queue is sent without them:");
  } catch (...) {
  }
}

bool TelemetryClient::Send(IRequestSender::Batch batch, const base::StopToken& stopToken, std::uint64_t& sentCount) {
  // What the sender counted as handed over is delivered, however the send
  // ends.
  struct CountDelivered {
    DeliveryCounters& counters;
    const std::uint64_t& sent;
    ~CountDelivered() { counters.delivered += sent; }
  } countDelivered{*m_counters, sentCount};
  try {
    // Left set when the send raises: the failure is the sender's.
    m_sending = true;
    m_requestSender->Send(batch, sentCount, stopToken);
    m_sending = false;
    return true;
  } catch (const base::bad_request_exception&) {
    m_sending = false;
    // The endpoint will never take this package: it is handled by dropping it.
    const std::uint64_t sent = std::min<std::uint64_t>(sentCount, batch.size());
    m_counters->refusedByEndpoint += batch.size() - sent;
    SENDARA_TRACE(m_tracer, TraceLevel::kError, "bad request, " << batch.size() - sent << " events dropped");
    TraceCurrentException(m_tracer.Get(), SENDARA_FUNCTION_NAME);
    return false;
  }
}

void TelemetryClient::DeleteIds(std::span<const PartitionedId> ids) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "count of ids = " << ids.size());
  m_storage->DeleteByIds(ids);
}

void TelemetryClient::SaveEvents(std::span<const std::string_view> items) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "save events: size = " << items.size());
  std::vector<std::string> values;
  values.reserve(items.size());
  for (const std::string_view text : items) {
    // {"severity":0,"text":"..."}: compact, members in this order, UTF-8 as it is.
    std::string value = R"({"severity":0,"text":)";
    value += boost::json::serialize(boost::json::string_view(text.data(), text.size()));
    value += '}';
    values.push_back(std::move(value));
  }
  m_storage->Insert(values);
}

}  // namespace sendara::edr_telemetry::telemetry
