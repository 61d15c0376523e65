#include "component/sendara/edr_telemetry/source/task/task_start_gate.h"

#include <algorithm>

#include "component/platform/mutex_lock.h"

namespace sendara::edr_telemetry::task {

bool TaskStartGate::Enter() {
  platform::MutexLock lock(&m_mutex);
  if (!m_open) return false;
  m_acting.push_back(std::this_thread::get_id());
  return true;
}

void TaskStartGate::Leave() {
  {
    platform::MutexLock lock(&m_mutex);
    m_acting.erase(std::find(m_acting.begin(), m_acting.end(), std::this_thread::get_id()));
  }
  m_left.NotifyAll();
}

bool TaskStartGate::IsOpen() const {
  platform::MutexLock lock(&m_mutex);
  return m_open;
}

void TaskStartGate::Close(bool wait) {
  platform::MutexLock lock(&m_mutex);
  m_open = false;
  if (!wait) return;
  const auto actingElsewhere = [this]() REQUIRES(m_mutex) {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(m_acting.begin(), m_acting.end(), [self](std::thread::id id) { return id != self; });
  };
  while (actingElsewhere()) m_left.Wait(&m_mutex);
}

}  // namespace sendara::edr_telemetry::task
