#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/event.h"
#include "component/sendara/base/detail/base_client/i_polling_client.h"
#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/delivery_counters.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_handler.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_queue.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"

namespace sendara::edr_telemetry::telemetry {

// The sending loop: each pass drains the stored backlog, then the queue, in
// packages, within a budget of packages per pass (online, with a request
// sender); or moves the whole queue into storage (offline, without one).
//
// What was taken out of the queue and not handed to a sender or stored goes
// back to the front of the queue, whatever ends the pass; stored rows are
// deleted only once sent.
class TelemetryClient final : public base::IPollingClient {
 public:
  TelemetryClient(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<IRequestSender> requestSender,
                  std::shared_ptr<base::storages::PartitionedValueStorage> storage,
                  std::shared_ptr<ITelemetryQueue> queue, const std::shared_ptr<ITelemetryHandler>& handler,
                  const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& settingsProvider,
                  std::shared_ptr<std::atomic<bool>> storageFailing = nullptr,
                  std::shared_ptr<DeliveryCounters> counters = nullptr);
  ~TelemetryClient() override;

  void Process(base::StopToken stopToken) override;
  std::uint32_t GetSleepTime() override { return m_sleepTime; }
  std::shared_ptr<platform::Event> GetWakeupEvent() override { return m_wakeupEvent; }

 private:
  using Records = ITelemetryQueue::Records;

  // The most an offline pass takes from the queue at a time, in events, and
  // hands to one insert into storage, in bytes of event text.
  static constexpr std::size_t kStoreChunkEvents = 1024;
  static constexpr std::size_t kStoreChunkBytes = 4 * 1024 * 1024;

  std::uint32_t ProcessStorage(const base::StopToken& stopToken, std::uint32_t packagesLimit);
  void ProcessQueueOnline(const base::StopToken& stopToken, std::uint32_t packagesLimit);
  void ProcessQueueOffline(const base::StopToken& stopToken);
  // Stores `chunk`; on a failure puts back what storage did not take.
  void StoreChunk(Records& chunk, const base::StopToken& stopToken);
  // False when the package was refused as a bad request and dropped.
  bool Send(IRequestSender::Batch batch, const base::StopToken& stopToken, std::uint64_t& sentCount);
  void SendStoredPackage(std::string& texts, std::vector<std::size_t>& ends,
                         std::vector<base::storages::PartitionedId>& ids, const base::StopToken& stopToken);
  void DeleteIds(std::span<const base::storages::PartitionedId> ids);
  void SaveEvents(std::span<const std::string_view> items);
  // Puts `events[from..]` back at the front of the queue, behind nothing.
  void PutBack(Records& events, std::size_t from, Records leftovers);
  void ApplySettings(const EdrTelemetryClientSettings& settings);
  // Traces the storage failure being handled at level 300, unless the
  // outage it belongs to was reported already.
  void ReportStorageFailure();

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<IRequestSender> m_requestSender;
  const std::shared_ptr<base::storages::PartitionedValueStorage> m_storage;
  const std::shared_ptr<ITelemetryQueue> m_queue;
  // Set while stored events cannot be read; shared by the passes of one
  // client, so that an outage is reported once.
  const std::shared_ptr<std::atomic<bool>> m_storageFailing;
  const std::shared_ptr<DeliveryCounters> m_counters;
  // Used by the sending pass only.
  StoredValueReader m_storedValues;
  // A package is with the request sender.
  bool m_sending = false;
  const std::shared_ptr<platform::Event> m_wakeupEvent;
  std::atomic<std::uint32_t> m_sleepTime{30000};
  std::atomic<std::uint32_t> m_packageSize{1024};
  std::atomic<std::uint32_t> m_packagesPerPass{1024};
  // Last: dropped first, so that no callback meets a half-destroyed client.
  std::shared_ptr<base::ISubscription> m_settingsSubscription;
  std::shared_ptr<base::ISubscription> m_queueFullSubscription;
};

}  // namespace sendara::edr_telemetry::telemetry
