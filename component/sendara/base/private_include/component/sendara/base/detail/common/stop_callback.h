#pragma once

#include <functional>
#include <stop_token>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
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
class StopCallback {
 public:
  StopCallback(const StopToken& token, std::function<void()> callback,
               oru::RefPtr<oru::ITracer> tracer = {});
  StopCallback(const StopCallback&) = delete;
  StopCallback& operator=(const StopCallback&) = delete;

 private:
  class Invoker {
   public:
    Invoker(std::function<void()> callback, oru::RefPtr<oru::ITracer> tracer)
        : m_callback(std::move(callback)), m_tracer(std::move(tracer)) {}
    void operator()() noexcept;

   private:
    std::function<void()> m_callback;
    oru::RefPtr<oru::ITracer> m_tracer;
  };

  std::stop_callback<Invoker> m_registration;
};

}  // namespace sendara::base
