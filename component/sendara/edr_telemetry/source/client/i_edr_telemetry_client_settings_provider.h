#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/edr_telemetry/source/client/connection_parameters.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"

namespace sendara::edr_telemetry {

// Where every part of a client reads its settings, and learns of changes.
class IEdrTelemetryClientSettingsProvider {
 public:
  using SettingsCallback = std::function<void(const EdrTelemetryClientSettings&)>;

  virtual ~IEdrTelemetryClientSettingsProvider() = default;

  virtual ConnectionParameters GetConnectionParameters() const = 0;

  // `callback` receives every record that becomes current, on the thread that
  // changed it, until the returned subscription is dropped or unsubscribed.
  // `clientName` names the subscriber in traces, by convention the full name
  // of its constructor.
  virtual std::shared_ptr<base::ISubscription> Subscribe(std::string clientName,
                                                         SettingsCallback callback) = 0;

  // Subscribe, and hand `callback` the current record at once, with no
  // change slipping in between: a subscriber that subscribes and then reads
  // could otherwise apply an older record after a newer one.
  virtual std::shared_ptr<base::ISubscription> SubscribeAndApply(std::string clientName,
                                                                 SettingsCallback callback) = 0;

  virtual EdrTelemetryClientSettings GetSettings() const = 0;

  // Raises when the record is refused; the current one then stays.
  virtual void SetSettings(EdrTelemetryClientSettings settings) = 0;

  // Replaces the excluded event types, which later SetSettings calls keep.
  virtual void SetExcludedEventTypes(std::vector<std::u16string> eventTypes) = 0;
};

}  // namespace sendara::edr_telemetry
