#pragma once

#include <stop_token>

namespace sendara::base {

class StopSource;

// Observes the stop of one StopSource. Copyable; every copy shares the state.
class StopToken {
 public:
  StopToken() noexcept = default;

  bool StopRequested() const noexcept { return m_token.stop_requested(); }
  // False when no stop can come any more (no source is left) or the token
  // belongs to no source.
  bool StopPossible() const noexcept { return m_token.stop_possible(); }

  // For code that waits through a library with its own stop support.
  const std::stop_token& Native() const noexcept { return m_token; }

 private:
  friend class StopSource;
  explicit StopToken(std::stop_token token) noexcept : m_token(std::move(token)) {}

  std::stop_token m_token;
};

}  // namespace sendara::base
