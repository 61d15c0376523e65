#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "component/oru/basic_object.h"
#include "component/oru/i_http_request_callback.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/event.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/request_sender/secure_string.h"

namespace sendara::base {

// What one request ends with: its result, its status and the response body.
// The client holds a reference until it has reported the end, the waiting
// sender another; whoever lets go last frees it. So a sender that gave up
// waiting (or was destroyed) leaves nothing freed behind for a late end.
class HttpRequestCompletion final
    : public oru::Object<HttpRequestCompletion, oru::IHttpRequestCallback> {
 public:
  // Body bytes beyond this are discarded: a response is a short answer, and
  // a server must not make the component hold an unbounded one.
  static constexpr std::size_t kMaxResponseSize = 1024 * 1024;

  HttpRequestCompletion(oru::RefPtr<oru::ITracer> tracer, std::string uri);

  void ResponseData(std::span<const std::uint8_t> bytes) noexcept override EXCLUDES(m_mutex);
  void RequestCompleted(oru::Result result, std::uint16_t status) noexcept override EXCLUDES(m_mutex);

  // True when the request ended within `timeoutMilliseconds`.
  bool WaitForCompletion(std::uint32_t timeoutMilliseconds) noexcept;
  // The client's result; OutOfMemory when the body could not be kept.
  oru::Result GetResult() const noexcept EXCLUDES(m_mutex);
  std::uint16_t GetStatus() const noexcept EXCLUDES(m_mutex);
  std::size_t DiscardedSize() const noexcept EXCLUDES(m_mutex);
  SecureString TakeResponse() noexcept EXCLUDES(m_mutex);

 private:
  ~HttpRequestCompletion() override = default;

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::string m_uri;
  mutable platform::Mutex m_mutex;
  SecureString m_response GUARDED_BY(m_mutex);
  std::size_t m_discarded GUARDED_BY(m_mutex) = 0;
  bool m_outOfMemory GUARDED_BY(m_mutex) = false;
  bool m_completed GUARDED_BY(m_mutex) = false;
  oru::Result m_result GUARDED_BY(m_mutex) = oru::rc::Unexpected;
  std::uint16_t m_status GUARDED_BY(m_mutex) = 0;
  platform::Event m_done{platform::Event::ResetMode::kManual};
};

}  // namespace sendara::base
