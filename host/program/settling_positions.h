#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <utility>

#include "host/program/followed_file.h"

namespace reference_host {

// Places in the followed file that the component has had time to secure.
// The component queues what it is handed in memory and tells its host
// nothing of a single event's fate; within a few sending passes an event is
// either sent or spooled. A place handed over at t counts as settled at
// t + window: the checkpoint goes no further, so a process killed outright
// hands the lines of the last window over again rather than losing what
// its queue held.
class SettlingPositions {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SettlingPositions(Clock::duration window) : m_window(window) {}

  // `position` was handed over at `now` (the same position again is
  // ignored: it keeps its first time).
  void Add(Clock::time_point now, const FollowedFile::Position& position);
  // The latest position handed over no later than now - window, once; none
  // when no new position settled since the last call.
  std::optional<FollowedFile::Position> Settled(Clock::time_point now);

 private:
  const Clock::duration m_window;
  // Oldest first; at most one entry older than the window survives a call.
  std::deque<std::pair<Clock::time_point, FollowedFile::Position>> m_handedOver;
};

}  // namespace reference_host
