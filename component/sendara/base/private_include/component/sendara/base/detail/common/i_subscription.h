#pragma once

namespace sendara::base {

// A subscriber's hold on a signal. Dropping the last reference unsubscribes.
class ISubscription {
 public:
  virtual ~ISubscription() = default;
  // Once it has returned, the callback is not running and is never called
  // again. Idempotent. Must not be called from the subscription's own
  // callback (it would wait for itself).
  virtual void Unsubscribe() = 0;
};

}  // namespace sendara::base
