#include "component/sendara/base/detail/request_sender/http_request_completion.h"

#include <algorithm>
#include <iomanip>
#include <new>
#include <string_view>

#include "component/oru/http_result.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/request_sender/http_status_text.h"

namespace sendara::base {

HttpRequestCompletion::HttpRequestCompletion(oru::RefPtr<oru::ITracer> tracer, std::string uri)
    : m_tracer(std::move(tracer)), m_uri(std::move(uri)) {}

void HttpRequestCompletion::ResponseData(std::span<const std::uint8_t> bytes) noexcept {
  platform::MutexLock lock(&m_mutex);
  if (m_completed || m_outOfMemory) return;
  const std::size_t room = kMaxResponseSize - m_response.Size();
  const std::size_t kept = std::min(room, bytes.size());
  m_discarded += bytes.size() - kept;
  if (kept == 0) return;
  try {
    m_response.Append(std::string_view(reinterpret_cast<const char*>(bytes.data()), kept));
  } catch (const std::bad_alloc&) {
    // A truncated body must not pass for the answer: the request fails.
    m_outOfMemory = true;
  }
}

void HttpRequestCompletion::RequestCompleted(oru::Result result, std::uint16_t status) noexcept {
  std::size_t discarded = 0;
  {
    platform::MutexLock lock(&m_mutex);
    if (m_completed) return;
    m_completed = true;
    m_result = (m_outOfMemory && oru::Succeeded(result)) ? oru::rc::OutOfMemory : result;
    m_status = status;
    discarded = m_discarded;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "Request for url '" << m_uri << "' finished with result: 0x" << std::hex << std::uppercase
                                    << std::setw(8) << std::setfill('0')
                                    << static_cast<std::uint32_t>(result) << std::dec
                                    << "; status code is " << status << " " << HttpStatusText(status));
  if (result == oru::http_result::kAnswerBodyIncomplete) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "answer of url '" << m_uri << "' did not come whole after its status " << status
                                    << "; the status stands");
  }
  if (discarded != 0) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "response of url '" << m_uri << "' cut to " << kMaxResponseSize << " bytes; discarded "
                                      << discarded << " bytes");
  }
  // Last: once the waiter wakes, it may drop its reference at any time.
  m_done.Set();
}

bool HttpRequestCompletion::WaitForCompletion(std::uint32_t timeoutMilliseconds) noexcept {
  return m_done.Wait(timeoutMilliseconds) == platform::Event::kSignalled;
}

oru::Result HttpRequestCompletion::GetResult() const noexcept {
  platform::MutexLock lock(&m_mutex);
  return m_result;
}

std::uint16_t HttpRequestCompletion::GetStatus() const noexcept {
  platform::MutexLock lock(&m_mutex);
  return m_status;
}

std::size_t HttpRequestCompletion::DiscardedSize() const noexcept {
  platform::MutexLock lock(&m_mutex);
  return m_discarded;
}

SecureString HttpRequestCompletion::TakeResponse() noexcept {
  platform::MutexLock lock(&m_mutex);
  return std::move(m_response);
}

}  // namespace sendara::base
