#pragma once

#include <thread>
#include <vector>

#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace sendara::edr_telemetry::task {

// Lets a started task's actions through (registering its consumer, starting
// its client, subscribing to the response server) until its stop closes it.
// The host may run an action on any thread at any time, even after the task
// has stopped, and an action runs host code (the consumers-changed
// listeners, the response server's subscribe): so no lock is held while it
// runs. Closing waits for the actions under way on other threads; one under
// way on the closing thread itself (a stop from inside the host code it
// runs) cannot be waited for, and finds the gate closed when its host call
// returns, and undoes what that call did.
class TaskStartGate {
 public:
  TaskStartGate() = default;
  TaskStartGate(const TaskStartGate&) = delete;
  TaskStartGate& operator=(const TaskStartGate&) = delete;

  // False when closed; otherwise the action runs and ends with Leave.
  bool Enter() EXCLUDES(m_mutex);
  void Leave() EXCLUDES(m_mutex);
  bool IsOpen() const EXCLUDES(m_mutex);
  // Closes for good, then, with `wait`, waits as said above. A close that
  // may not wait (on a thread an action may be waiting for) leaves the
  // actions under way to find the gate closed and undo what they did.
  void Close(bool wait) EXCLUDES(m_mutex);

 private:
  // A leaf: nothing else is taken, and nothing called, under it.
  mutable platform::Mutex m_mutex;
  platform::ConditionVariable m_left;
  bool m_open GUARDED_BY(m_mutex) = true;
  // One entry per action under way, by the thread running it.
  std::vector<std::thread::id> m_acting GUARDED_BY(m_mutex);
};

// Enter and Leave for one scope.
class TaskStartGateAction {
 public:
  explicit TaskStartGateAction(TaskStartGate& gate) : m_gate(gate), m_entered(gate.Enter()) {}
  ~TaskStartGateAction() {
    if (m_entered) m_gate.Leave();
  }
  TaskStartGateAction(const TaskStartGateAction&) = delete;
  TaskStartGateAction& operator=(const TaskStartGateAction&) = delete;

  bool Entered() const noexcept { return m_entered; }

 private:
  TaskStartGate& m_gate;
  const bool m_entered;
};

}  // namespace sendara::edr_telemetry::task
