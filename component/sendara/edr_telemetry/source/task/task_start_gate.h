#pragma once

#include <mutex>

namespace sendara::edr_telemetry::task {

// Shared by a task and its delayed-start handler, which the host may call on
// any thread at any time, even after the task has stopped or gone: the
// handler acts only while the gate is open, and holds the lock while it
// acts, so that closing the gate waits for an action under way. Re-entrant,
// because host code runs under it (the response server may call the handler
// from inside a subscribe the task makes while holding it).
struct TaskStartGate {
  std::recursive_mutex mutex;
  // Guarded by `mutex`.
  bool open = true;
};

}  // namespace sendara::edr_telemetry::task
