#pragma once

#include <memory>

#include "component/sendara/base/detail/common/stop_state.h"
#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::base {

// Requests a stop that every StopToken of this source observes and that runs
// every registered StopCallback, once, on the requesting thread. Copies share
// the stop.
class StopSource {
 public:
  StopSource() : m_state(std::make_shared<StopState>()) { m_state->AddSource(); }
  StopSource(const StopSource& other) noexcept : m_state(other.m_state) { m_state->AddSource(); }
  StopSource& operator=(const StopSource& other) noexcept {
    StopSource copy(other);
    std::swap(m_state, copy.m_state);
    return *this;
  }
  ~StopSource() { m_state->RemoveSource(); }

  StopToken GetToken() const noexcept { return StopToken(m_state); }
  // False when a stop was already requested, true for the first request.
  bool RequestStop() noexcept { return m_state->RequestStop(); }
  bool StopRequested() const noexcept { return m_state->StopRequested(); }

 private:
  // Never empty: a source is not moved from.
  std::shared_ptr<StopState> m_state;
};

}  // namespace sendara::base
