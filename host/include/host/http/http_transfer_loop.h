#pragma once

#include <curl/curl.h>

#include <unordered_map>
#include <vector>

#include "component/oru/ref_ptr.h"
#include "component/oru/result_code.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "host/http/http_request.h"

namespace reference_host {

// The libcurl multi handle of one HttpClient and the loop that drives it on
// the client's thread. Other threads hand in requests and cancels and wake
// the loop (curl_multi_wakeup); the loop alone adds, runs, removes and
// completes transfers, so response data and completions come on its thread.
//
// Shared by the client and its thread: a client released from inside one of
// its own callbacks leaves the loop alive until the thread has returned.
class HttpTransferLoop {
 public:
  // Throws std::runtime_error when libcurl gives no multi handle.
  HttpTransferLoop();
  ~HttpTransferLoop();

  HttpTransferLoop(const HttpTransferLoop&) = delete;
  HttpTransferLoop& operator=(const HttpTransferLoop&) = delete;

  // Hands a prepared request over; InvalidState once the loop stops.
  oru::Result Submit(oru::RefPtr<HttpRequest> request);
  // A request was cancelled: the loop looks for cancelled requests.
  void NotifyCancel() noexcept;
  // Makes Run end every request with OperationCancelled and return.
  void Stop() noexcept;
  // The loop; returns after Stop.
  void Run() noexcept;

 private:
  void Start(std::vector<oru::RefPtr<HttpRequest>>& requests) noexcept;
  void EndCancelled() noexcept;
  void EndFinished() noexcept;
  void EndAll(oru::Result result) noexcept;
  oru::RefPtr<HttpRequest> Remove(CURL* transfer) noexcept;

  CURLM* const m_multi;
  // A leaf: held to hand requests and notices over, never across libcurl.
  platform::Mutex m_mutex;
  std::vector<oru::RefPtr<HttpRequest>> m_incoming GUARDED_BY(m_mutex);
  bool m_cancelRequested GUARDED_BY(m_mutex) = false;
  bool m_stopping GUARDED_BY(m_mutex) = false;
  // The requests whose transfers are in the multi handle; loop thread only.
  std::unordered_map<CURL*, oru::RefPtr<HttpRequest>> m_running;
};

}  // namespace reference_host
