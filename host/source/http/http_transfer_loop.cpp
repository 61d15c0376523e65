#include "host/http/http_transfer_loop.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "component/platform/mutex_lock.h"

namespace reference_host {
namespace {

// How long the loop sleeps in curl_multi_poll at most when libcurl asks for
// no earlier wake-up: a wake-up or a socket event ends the wait before.
constexpr int kPollMilliseconds = 1000;
// A multi handle that failed to poll is retried after this long rather than
// at once, so that a lasting failure does not spin the thread.
constexpr std::chrono::milliseconds kPollFailurePause{100};

oru::Result ResultOf(CURLMcode code) noexcept {
  return code == CURLM_OUT_OF_MEMORY ? oru::rc::OutOfMemory : oru::rc::UnspecifiedError;
}

}  // namespace

HttpTransferLoop::HttpTransferLoop() : m_multi(curl_multi_init()) {
  if (!m_multi) throw std::runtime_error("libcurl gave no multi handle");
}

HttpTransferLoop::~HttpTransferLoop() { curl_multi_cleanup(m_multi); }

oru::Result HttpTransferLoop::Submit(oru::RefPtr<HttpRequest> request) {
  {
    platform::MutexLock lock(&m_mutex);
    if (m_stopping) return oru::rc::InvalidState;
    m_incoming.push_back(std::move(request));
  }
  curl_multi_wakeup(m_multi);
  return oru::rc::NoError;
}

void HttpTransferLoop::NotifyCancel() noexcept {
  {
    platform::MutexLock lock(&m_mutex);
    m_cancelRequested = true;
  }
  curl_multi_wakeup(m_multi);
}

void HttpTransferLoop::Stop() noexcept {
  {
    platform::MutexLock lock(&m_mutex);
    m_stopping = true;
  }
  curl_multi_wakeup(m_multi);
}

void HttpTransferLoop::Run() noexcept {
  for (;;) {
    std::vector<oru::RefPtr<HttpRequest>> incoming;
    bool cancel = false;
    bool stop = false;
    {
      platform::MutexLock lock(&m_mutex);
      incoming.swap(m_incoming);
      cancel = std::exchange(m_cancelRequested, false);
      stop = m_stopping;
    }
    if (stop) {
      // Requests handed in after the last turn never started.
      for (oru::RefPtr<HttpRequest>& request : incoming) request->Complete(oru::rc::OperationCancelled);
      EndAll(oru::rc::OperationCancelled);
      return;
    }
    Start(incoming);
    if (cancel) EndCancelled();

    int running = 0;
    const CURLMcode performed = curl_multi_perform(m_multi, &running);
    EndFinished();
    if (performed != CURLM_OK) EndAll(ResultOf(performed));

    const CURLMcode polled = curl_multi_poll(m_multi, nullptr, 0, kPollMilliseconds, nullptr);
    if (polled != CURLM_OK) {
      EndAll(ResultOf(polled));
      std::this_thread::sleep_for(kPollFailurePause);
    }
  }
}

void HttpTransferLoop::Start(std::vector<oru::RefPtr<HttpRequest>>& requests) noexcept {
  for (oru::RefPtr<HttpRequest>& request : requests) {
    // Cancelled before it could start: no connection for it.
    if (request->CancelRequested()) {
      request->Complete(oru::rc::OperationCancelled);
      continue;
    }
    try {
      m_running.emplace(request->Transfer(), request);
    } catch (...) {
      request->Complete(oru::rc::OutOfMemory);
      continue;
    }
    const CURLMcode added = curl_multi_add_handle(m_multi, request->Transfer());
    if (added != CURLM_OK) {
      m_running.erase(request->Transfer());
      request->Complete(ResultOf(added));
    }
  }
}

void HttpTransferLoop::EndCancelled() noexcept {
  std::vector<CURL*> cancelled;
  try {
    for (const auto& [transfer, request] : m_running) {
      if (request->CancelRequested()) cancelled.push_back(transfer);
    }
  } catch (...) {
    // Without the list, the next cancel notice tries again.
    platform::MutexLock lock(&m_mutex);
    m_cancelRequested = true;
    return;
  }
  for (CURL* transfer : cancelled) {
    if (oru::RefPtr<HttpRequest> request = Remove(transfer)) request->Complete(oru::rc::OperationCancelled);
  }
}

void HttpTransferLoop::EndFinished() noexcept {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    // The message lives in the multi handle only until the transfer is
    // removed: its result is read first.
    const CURLcode code = message->data.result;
    if (oru::RefPtr<HttpRequest> request = Remove(message->easy_handle)) request->Complete(code);
  }
}

void HttpTransferLoop::EndAll(oru::Result result) noexcept {
  while (!m_running.empty()) {
    if (oru::RefPtr<HttpRequest> request = Remove(m_running.begin()->first)) request->Complete(result);
  }
}

oru::RefPtr<HttpRequest> HttpTransferLoop::Remove(CURL* transfer) noexcept {
  auto found = m_running.find(transfer);
  if (found == m_running.end()) return nullptr;
  oru::RefPtr<HttpRequest> request = std::move(found->second);
  m_running.erase(found);
  curl_multi_remove_handle(m_multi, transfer);
  return request;
}

}  // namespace reference_host
