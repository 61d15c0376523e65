#include "host/program/settling_positions.h"

namespace reference_host {

void SettlingPositions::Add(Clock::time_point now, const FollowedFile::Position& position) {
  if (!m_handedOver.empty() && m_handedOver.back().second == position) return;
  m_handedOver.emplace_back(now, position);
}

std::optional<FollowedFile::Position> SettlingPositions::Settled(Clock::time_point now) {
  std::optional<FollowedFile::Position> settled;
  while (!m_handedOver.empty() && m_handedOver.front().first + m_window <= now) {
    settled = std::move(m_handedOver.front().second);
    m_handedOver.pop_front();
  }
  return settled;
}

}  // namespace reference_host
