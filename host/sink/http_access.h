#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/beast/http/message.hpp>

#include "host/sink/sink_options.h"

namespace siem_sink {

// What an HTTP POST must match before its events are taken: its target
// (--http-path) and its headers (--http-header). Shared by every HTTP
// session, on any thread; counts the requests it refuses.
class HttpAccess {
 public:
  // `status` 0: taken; otherwise the status to refuse with, and why, for
  // the diagnostic log.
  struct Verdict {
    unsigned status = 0;
    std::string reason;
  };

  // An empty path takes every target; no header, any headers.
  HttpAccess(std::string path, std::vector<SinkOptions::HttpHeader> headers);

  // 404 for another target, then 401 for a header missing, repeated or with
  // another value. The reason names the header, never a value: either may be
  // a secret.
  Verdict Check(const boost::beast::http::request_header<>& request);

  std::uint64_t Refused() const { return m_refused.load(std::memory_order_relaxed); }

 private:
  bool TargetMatches(std::string_view target) const;

  const std::string m_path;
  const std::vector<SinkOptions::HttpHeader> m_headers;
  std::atomic<std::uint64_t> m_refused{0};
};

}  // namespace siem_sink
