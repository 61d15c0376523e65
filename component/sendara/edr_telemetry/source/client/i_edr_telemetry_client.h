#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/delivery_counters.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"

namespace sendara::edr_telemetry {

// One configured set of SIEM destinations, as the task drives it. Every
// operation catches what it raises and answers with the result code; none
// throws.
class IEdrTelemetryClient : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x6A3F5E21;

  // Validates and stores `settings`; a started client restarts when the
  // endpoints, the tunnel or the certificate settings changed. Refused
  // settings change nothing.
  virtual oru::Result SetSettings(const EdrTelemetryClientSettings& settings) noexcept = 0;
  virtual oru::Result SetExcludedEventTypes(const std::vector<std::u16string>& eventTypes) noexcept = 0;
  // Starts the sending worker; a started client stays as it is.
  virtual oru::Result Start() noexcept = 0;
  // Queues one event (UTF-16 JSON text).
  virtual oru::Result SendTelemetry(std::u16string_view event) noexcept = 0;
  virtual oru::Result ShouldDropEvent(std::uint32_t throttlingId, std::u16string_view eventType,
                                      bool* shouldBeDropped) noexcept = 0;
  // May clear the markable flag of IOAs that exclusion rules remove.
  virtual oru::Result ShouldDropEventOrIoa(std::uint32_t throttlingId, std::u16string_view eventType,
                                           std::u16string_view event, std::vector<Ioa>& ioas,
                                           bool* shouldBeDropped) noexcept = 0;
  // Stops the worker (the queue goes to persistent storage) and starts a
  // new one.
  virtual oru::Result Restart() noexcept = 0;
  // Stops the worker for good, the queue going to persistent storage: a
  // later Start, Restart or settings change starts nothing. Waits for the
  // worker, except on one of the client's own sending threads (a connection
  // event sink calling back), where the worker ends by itself once the call
  // has returned.
  virtual oru::Result Stop() noexcept = 0;
  // The client's account of its events; it outlives the client, and is
  // final once Stop has returned off the sending threads and the client is
  // released. Null when the client keeps none.
  virtual std::shared_ptr<const telemetry::DeliveryCounters> Counters() const noexcept = 0;

 protected:
  ~IEdrTelemetryClient() = default;
};

}  // namespace sendara::edr_telemetry
