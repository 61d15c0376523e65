#pragma once

#include <functional>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/stop_state.h"
#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::base {

// Runs a callable when the token's stop is requested: on the requesting
// thread, or at once on this thread when the stop was requested before.
// Destruction deregisters it and waits for a run under way on another thread
// (not for a run on this same thread).
//
// An exception from the callable is traced at level 300 and goes no further:
// it must neither end the process nor keep the other callbacks of the stop
// from running.
class StopCallback final : private StopState::Node {
 public:
  StopCallback(const StopToken& token, std::function<void()> callback, oru::RefPtr<oru::ITracer> tracer = {});
  ~StopCallback();
  StopCallback(const StopCallback&) = delete;
  StopCallback& operator=(const StopCallback&) = delete;

 private:
  void Run() noexcept override;

  std::function<void()> m_callback;
  oru::RefPtr<oru::ITracer> m_tracer;
  // Empty for a token of no source: nothing ever runs.
  const std::shared_ptr<StopState> m_state;
};

}  // namespace sendara::base
