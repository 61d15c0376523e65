#pragma once

#include <functional>
#include <memory>
#include <string>

#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/base/detail/telemetry/throttler_settings.h"

namespace sendara::base::telemetry {

// Where a throttler reads its limits and learns of their changes.
class IThrottlerSettingsSource {
 public:
  virtual ~IThrottlerSettingsSource() = default;
  virtual ThrottlerSettings GetThrottlerSettings() const = 0;
  // Subscribes and hands `callback` the current limits at once, with no
  // change slipping in between.
  virtual std::shared_ptr<ISubscription> SubscribeAndApplyThrottlerSettings(
      std::string clientName, std::function<void(const ThrottlerSettings&)> callback) = 0;
};

}  // namespace sendara::base::telemetry
