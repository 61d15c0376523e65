#pragma once

#include <stop_token>

#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::base {

// Requests a stop that every StopToken of this source observes and that runs
// every registered StopCallback, once, on the requesting thread.
class StopSource {
 public:
  StopSource() = default;

  StopToken GetToken() const noexcept { return StopToken(m_source.get_token()); }
  // False when a stop was already requested, true for the first request.
  bool RequestStop() noexcept { return m_source.request_stop(); }
  bool StopRequested() const noexcept { return m_source.stop_requested(); }

 private:
  std::stop_source m_source;
};

}  // namespace sendara::base
