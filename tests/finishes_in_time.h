#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

// Runs `work` on a detached thread and waits up to ten seconds for it: under
// a deadlock the test fails instead of hanging the run. `work` must hold
// (by value) whatever it uses.
inline bool FinishesInTime(std::function<void()> work) {
  const auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([work = std::move(work), done] {
    work();
    done->set_value();
  }).detach();
  return finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}
