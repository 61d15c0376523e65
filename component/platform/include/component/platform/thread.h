#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

// A started thread with the kernel's id for it, known as soon as the
// constructor returns. The constructor throws std::system_error when the
// system cannot start a thread. `body` is the thread's entry function: it
// must catch everything itself, as an escaping exception ends the process.
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
  void Detach();

 private:
  std::uint32_t m_id = 0;
  std::thread m_thread;
};

}  // namespace platform
