#include "component/platform/thread.h"

#include <future>
#include <list>
#include <new>
#include <system_error>
#include <utility>

#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/this_thread.h"

namespace platform {
namespace {

struct DetachedThread {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> finished;
};

// The threads of the module that nobody joins any more, and the count of
// all threads not yet joined.
class ThreadRegistry {
 public:
  static ThreadRegistry& Instance() noexcept {
    // In static storage, never destroyed: a thread may still be in it while
    // the process exits, and nothing of it stays on the heap once the
    // module is unloaded (it holds no thread then).
    alignas(ThreadRegistry) static unsigned char storage[sizeof(ThreadRegistry)];
    static ThreadRegistry* const registry = new (storage) ThreadRegistry;
    return *registry;
  }

  void Started() noexcept { m_live.fetch_add(1, std::memory_order_relaxed); }
  // Release: whoever reads the lower count sees everything the thread did.
  void Joined() noexcept { m_live.fetch_sub(1, std::memory_order_release); }

  void Adopt(std::thread thread, std::shared_ptr<std::atomic<bool>> finished) noexcept {
    try {
      MutexLock lock(&m_mutex);
      m_detached.push_back({std::move(thread), std::move(finished)});
      return;
    } catch (...) {
    }
    // No room to remember it: it stays counted for good, and the module
    // loaded, which is safe.
    thread.detach();
  }

  std::uint32_t Live() noexcept {
    std::list<DetachedThread> ended;
    {
      MutexLock lock(&m_mutex);
      for (auto it = m_detached.begin(); it != m_detached.end();) {
        const auto next = std::next(it);
        if (it->finished->load(std::memory_order_acquire)) ended.splice(ended.end(), m_detached, it);
        it = next;
      }
    }
    // Outside the lock: each of them is past its last step already, so the
    // wait is for the system to end it.
    for (DetachedThread& detached : ended) {
      if (detached.thread.get_id() == std::this_thread::get_id()) {
        // Asked from the very thread: it is still running here.
        Adopt(std::move(detached.thread), std::move(detached.finished));
        continue;
      }
      detached.thread.join();
      Joined();
    }
    return m_live.load(std::memory_order_acquire);
  }

 private:
  ThreadRegistry() = default;

  std::atomic<std::uint32_t> m_live{0};
  Mutex m_mutex;
  std::list<DetachedThread> m_detached GUARDED_BY(m_mutex);
};

}  // namespace

Thread::Thread(std::function<void()> body) : m_finished(std::make_shared<std::atomic<bool>>(false)) {
  ThreadRegistry& registry = ThreadRegistry::Instance();
  // Ended threads left by others are joined here too, so that a module whose
  // host never asks does not collect them without end.
  registry.Live();
  // The promise moves into the new thread, so that the constructor's frame
  // is never touched by it once the id has arrived.
  std::promise<std::uint32_t> started;
  std::future<std::uint32_t> id = started.get_future();
  registry.Started();
  try {
    m_thread = std::thread(
        [started = std::move(started), body = std::move(body), finished = m_finished]() mutable {
          started.set_value(CurrentThreadId());
          body();
          // The body's captures go before the mark: their destructors are
          // the module's code too.
          body = nullptr;
          finished->store(true, std::memory_order_release);
        });
  } catch (...) {
    registry.Joined();
    throw;
  }
  m_id = id.get();
}

Thread::~Thread() {
  if (!m_thread.joinable()) return;
  if (IsCurrent()) {
    Detach();
    return;
  }
  try {
    Join();
  } catch (const std::system_error&) {
    Detach();
  }
}

bool Thread::IsCurrent() const noexcept { return m_thread.get_id() == std::this_thread::get_id(); }

void Thread::Join() {
  m_thread.join();
  ThreadRegistry::Instance().Joined();
}

void Thread::Detach() noexcept {
  if (!m_thread.joinable()) return;
  ThreadRegistry::Instance().Adopt(std::move(m_thread), m_finished);
}

std::uint32_t Thread::LiveCount() noexcept { return ThreadRegistry::Instance().Live(); }

}  // namespace platform
