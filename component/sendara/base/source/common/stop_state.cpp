#include "component/sendara/base/detail/common/stop_state.h"

#include "component/platform/mutex_lock.h"

namespace sendara::base {

bool StopState::RequestStop() noexcept {
  platform::MutexLock lock(&m_mutex);
  if (m_requested.exchange(true, std::memory_order_acq_rel)) return false;
  m_runningOn = std::this_thread::get_id();
  while (Node* node = m_first) {
    m_first = node->m_next;
    if (m_first) m_first->m_previous = nullptr;
    node->m_next = nullptr;
    m_running = node;
    // Run without the lock: a callback may register or remove others, or
    // destroy itself. `node` is not touched again.
    lock.Unlock();
    node->Run();
    lock.Lock();
    m_running = nullptr;
    m_runEnded.NotifyAll();
  }
  return true;
}

void StopState::Register(Node* node) noexcept {
  {
    platform::MutexLock lock(&m_mutex);
    if (!m_requested.load(std::memory_order_acquire)) {
      node->m_previous = nullptr;
      node->m_next = m_first;
      if (m_first) m_first->m_previous = node;
      m_first = node;
      return;
    }
  }
  node->Run();
}

void StopState::Deregister(Node* node) noexcept {
  platform::MutexLock lock(&m_mutex);
  if (node->m_previous || m_first == node) {
    // Still waiting to run.
    if (node->m_previous) node->m_previous->m_next = node->m_next;
    else m_first = node->m_next;
    if (node->m_next) node->m_next->m_previous = node->m_previous;
    node->m_previous = node->m_next = nullptr;
    return;
  }
  if (m_running != node || m_runningOn == std::this_thread::get_id()) return;
  while (m_running == node) m_runEnded.Wait(&m_mutex);
}

}  // namespace sendara::base
