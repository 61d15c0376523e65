#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

// A started thread with the kernel's id for it, known as soon as the
// constructor returns. The constructor throws std::system_error when the
// system cannot start a thread. `body` is the thread's entry function: it
// must catch everything itself, as an escaping exception ends the process.
//
// Every thread counts in LiveCount() from its start until it has been
// joined, so that the module is not unloaded under a thread that still runs
// its code. A detached thread is not forgotten: it is joined once it has
// finished, by the next LiveCount() or the next thread started.
class Thread {
 public:
  explicit Thread(std::function<void()> body);
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Joins a thread that is still joinable. A thread destroyed from itself is
  // detached instead, since it cannot wait for itself.
  ~Thread();

  std::uint32_t Id() const noexcept { return m_id; }
  bool IsCurrent() const noexcept;
  bool Joinable() const noexcept { return m_thread.joinable(); }
  void Join();
  // Lets the thread end by itself; it stays counted until it has.
  void Detach() noexcept;

  // Threads started and not yet joined. Joins the detached threads whose
  // body has returned first (each of them a moment from its end), so that 0
  // means no thread of the module is left.
  static std::uint32_t LiveCount() noexcept;

 private:
  std::uint32_t m_id = 0;
  std::thread m_thread;
  // Set by the thread as its last step in the module's code.
  std::shared_ptr<std::atomic<bool>> m_finished;
};

}  // namespace platform
