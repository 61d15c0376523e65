#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/event.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/platform/thread.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/common/stop_token.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/base/detail/telemetry/telemetry_throttler_v1.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/client_request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/i_telemetry_handler.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_client_factory.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_filter.h"

namespace sendara::edr_telemetry {

// One configured set of SIEM destinations. Host threads hand events in and
// ask whether to drop them; one worker thread sends: online cycles until a
// connection fails, each followed by a wait of maximumDataTransferTime
// during which an offline pass keeps moving queued events into persistent
// storage.
//
// Whatever is still queued when the worker ends (a stop, a restart, the
// client's release) is moved into persistent storage, so that the next
// start, or the next client on the same data folder, sends it first.
class EdrTelemetryClient final
    : public oru::BasicObject<EdrTelemetryClient, oru::ModuleObjectCounter, IEdrTelemetryClient> {
 public:
  struct Parts {
    std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider;
    std::shared_ptr<base::storages::PartitionedValueStorage> storage;
    std::shared_ptr<ClientRequestSenderStringFactory> requestSenderFactory;
    std::shared_ptr<telemetry::ITelemetryHandler> handler;
    std::shared_ptr<telemetry::TelemetryClientFactory> telemetryClientFactory;
    std::shared_ptr<TelemetryFilter> filter;
    std::shared_ptr<base::telemetry::TelemetryThrottlerV1> throttler;
  };

  EdrTelemetryClient(oru::RefPtr<oru::ITracer> tracer, Parts parts);
  ~EdrTelemetryClient() override;

  oru::Result SetSettings(const EdrTelemetryClientSettings& settings) noexcept override;
  oru::Result SetExcludedEventTypes(const std::vector<std::u16string>& eventTypes) noexcept override;
  oru::Result Start() noexcept override;
  oru::Result SendTelemetry(std::u16string_view event) noexcept override;
  oru::Result ShouldDropEvent(std::uint32_t throttlingId, std::u16string_view eventType,
                              bool* shouldBeDropped) noexcept override;
  oru::Result ShouldDropEventOrIoa(std::uint32_t throttlingId, std::u16string_view eventType,
                                   std::u16string_view event, std::vector<Ioa>& ioas,
                                   bool* shouldBeDropped) noexcept override;
  oru::Result Restart() noexcept override;
  oru::Result Stop() noexcept override;
  std::shared_ptr<const telemetry::DeliveryCounters> Counters() const noexcept override;
  // How many events were handed over with the text their decision converted.
  std::uint64_t DecidedTextsReused() const { return m_parsers.TextsReused(); }

  // True when the change from `oldSettings` to `newSettings` needs new
  // connections: certificates, tolerated TLS errors, endpoints or tunnel.
  // Traces each difference found.
  static bool IsNeedRestart(oru::ITracer* tracer, const EdrTelemetryClientSettings& oldSettings,
                            const EdrTelemetryClientSettings& newSettings);
  // 0, 5 and 9 pass; anything else raises contract_exception.
  static std::uint32_t ConvertGzipCompressionLevel(std::uint32_t level);

 private:
  // What the worker uses, shared with it: a client released on one of its
  // own sending threads cannot wait for its worker, which then ends by
  // itself with all it needs.
  struct Shared {
    Shared(oru::RefPtr<oru::ITracer> tracer, Parts parts, std::uint64_t serial)
        : tracer(std::move(tracer)), parts(std::move(parts)), serial(serial) {}
    oru::RefPtr<oru::ITracer> tracer;
    Parts parts;
    // Cleared by a worker that ends by itself, so that the next Start makes
    // a new one.
    std::atomic<bool> started{false};
    // Set by Stop: nothing starts again.
    std::atomic<bool> stopped{false};
    // Names the client to its sending threads. Not the client's address: a
    // new client may be made where a released one stood while the old one's
    // threads still end.
    const std::uint64_t serial;
  };
  struct Worker {
    base::StopSource stopSource;
    std::unique_ptr<platform::Thread> thread;
  };

  // Whether the calling thread is one of this client's sending threads: a
  // connection event sink may call the client back from there.
  bool OnSendingThread() const noexcept;
  // Runs `operation` on a thread of its own that holds the client: on a
  // sending thread, a stop would wait for the very thread asking. Raises
  // when no thread can be started.
  void RunDetached(oru::Result (EdrTelemetryClient::*operation)() noexcept);

  void StartLocked() REQUIRES(m_mutex);
  // False when the worker could not be waited for (a stop on its own
  // thread) and ends by itself.
  bool StopLocked() REQUIRES(m_mutex);
  // Applies what takes effect only at a start: the gzip level and the
  // storage limits.
  void ApplyStartSettingsLocked() REQUIRES(m_mutex);

  // Moves what is left in the queue into persistent storage.
  static void SpoolQueue(Shared& shared) noexcept;
  // After the last spooling of a stop for good: what the spool did not take
  // is lost, and counted so.
  static void DropQueued(Shared& shared) noexcept;
  static void Polling(std::shared_ptr<Shared> shared, base::StopToken stopToken) noexcept;
  static void StartClientsPolling(Shared& shared, const base::StopToken& stopToken);
  static void WaitNextPolling(Shared& shared, platform::Event& wakeupEvent);
  bool ShouldDropEventOrIoaImpl(std::uint32_t throttlingId, std::u16string_view eventType,
                                std::u16string_view event, std::vector<Ioa>& ioas);

  const std::shared_ptr<Shared> m_shared;
  // Parses for the decisions, and keeps a kept event's UTF-8 text for its
  // hand-over on the same thread.
  telemetry::EventParserPool m_parsers;
  // Held while the worker starts or stops (a join included): never taken on
  // a sending thread, which is what the worker waits for.
  platform::Mutex m_mutex;
  std::unique_ptr<Worker> m_worker GUARDED_BY(m_mutex);
};

}  // namespace sendara::edr_telemetry
