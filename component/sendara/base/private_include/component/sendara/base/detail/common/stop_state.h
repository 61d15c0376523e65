#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace sendara::base {

// What one StopSource and its tokens and callbacks share: whether the stop
// was requested, how many sources are left, and the callbacks still waiting
// for the stop.
//
// Made of a mutex and a condition variable only. The standard library's
// stop_callback waits for a callback under way through an atomic wait, and
// where no futex backs those waits (the Windows build's runtime) a wake-up
// can be lost and the waiting thread sleeps for ever.
class StopState {
 public:
  // A registered callback; owned by its StopCallback, which outlives its
  // registration.
  class Node {
   public:
    virtual void Run() noexcept = 0;

   protected:
    ~Node() = default;

   private:
    friend class StopState;
    Node* m_previous = nullptr;
    Node* m_next = nullptr;
  };

  StopState() = default;
  StopState(const StopState&) = delete;
  StopState& operator=(const StopState&) = delete;

  // Runs every registered callback on this thread, each once. False when a
  // stop was requested before.
  bool RequestStop() noexcept EXCLUDES(m_mutex);
  bool StopRequested() const noexcept { return m_requested.load(std::memory_order_acquire); }
  bool StopPossible() const noexcept {
    return StopRequested() || m_sources.load(std::memory_order_acquire) > 0;
  }

  void AddSource() noexcept { m_sources.fetch_add(1, std::memory_order_relaxed); }
  void RemoveSource() noexcept { m_sources.fetch_sub(1, std::memory_order_acq_rel); }

  // Registers `node`, or runs it at once on this thread when the stop was
  // requested before.
  void Register(Node* node) noexcept EXCLUDES(m_mutex);
  // Takes `node` out. When it runs on another thread right now, waits for it
  // to end; when it runs on this thread (it removes itself), returns at once.
  void Deregister(Node* node) noexcept EXCLUDES(m_mutex);

 private:
  std::atomic<bool> m_requested{false};
  std::atomic<std::size_t> m_sources{0};
  platform::Mutex m_mutex;
  platform::ConditionVariable m_runEnded;
  // The callbacks still to run, newest first.
  Node* m_first GUARDED_BY(m_mutex) = nullptr;
  // The callback that runs now, and on which thread.
  Node* m_running GUARDED_BY(m_mutex) = nullptr;
  std::thread::id m_runningOn GUARDED_BY(m_mutex);
};

}  // namespace sendara::base
