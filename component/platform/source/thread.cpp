#include "component/platform/thread.h"

#include <future>
#include <system_error>

#include "component/platform/this_thread.h"

namespace platform {

Thread::Thread(std::function<void()> body) {
  // The promise moves into the new thread, so that the constructor's frame
  // is never touched by it once the id has arrived.
  std::promise<std::uint32_t> started;
  std::future<std::uint32_t> id = started.get_future();
  m_thread = std::thread([started = std::move(started), body = std::move(body)]() mutable {
    started.set_value(CurrentThreadId());
    body();
  });
  m_id = id.get();
}

Thread::~Thread() {
  if (!m_thread.joinable()) return;
  if (IsCurrent()) {
    m_thread.detach();
    return;
  }
  try {
    m_thread.join();
  } catch (const std::system_error&) {
    m_thread.detach();
  }
}

bool Thread::IsCurrent() const noexcept { return m_thread.get_id() == std::this_thread::get_id(); }

void Thread::Join() { m_thread.join(); }

void Thread::Detach() { m_thread.detach(); }

}  // namespace platform
