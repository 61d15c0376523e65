#pragma once

#include <memory>
#include <utility>

#include "component/sendara/base/detail/common/stop_state.h"

namespace sendara::base {

class StopSource;
class StopCallback;

// Observes the stop of one StopSource. Copyable; every copy shares the state.
class StopToken {
 public:
  StopToken() noexcept = default;

  bool StopRequested() const noexcept { return m_state && m_state->StopRequested(); }
  // False when no stop can come any more (no source is left) or the token
  // belongs to no source.
  bool StopPossible() const noexcept { return m_state && m_state->StopPossible(); }

 private:
  friend class StopSource;
  friend class StopCallback;
  explicit StopToken(std::shared_ptr<StopState> state) noexcept : m_state(std::move(state)) {}

  std::shared_ptr<StopState> m_state;
};

}  // namespace sendara::base
