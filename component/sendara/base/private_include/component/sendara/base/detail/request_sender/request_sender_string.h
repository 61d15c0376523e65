#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct libdeflate_compressor;

#include "component/oru/http_header.h"
#include "component/oru/http_method.h"
#include "component/oru/i_http_client.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/request_sender/i_request_sender_string.h"

namespace sendara::base {

// Sends requests through the host's HTTP client and waits for each, bounded
// by the client's time-outs and ended early by a stop.
class RequestSenderString final : public IRequestSenderString {
 public:
  // Seconds a transfer may stall before the client fails it.
  static constexpr std::uint16_t kStallTimeoutSeconds = 30;
  // Added to the client's time-outs before the sender stops waiting: the
  // client ends the request itself by then unless something went wrong.
  static constexpr std::uint64_t kWaitMarginMilliseconds = 1000;

  // `connectionTimeout` and `requestTimeout` (milliseconds) are the ones the
  // client was created with; `gzipLevel` from 0 to 9 (contract_exception
  // otherwise).
  RequestSenderString(oru::RefPtr<oru::ITracer> tracer, SensitiveDataTracePolicy policy,
                      oru::RefPtr<oru::IHttpClient> client, std::uint32_t connectionTimeout,
                      std::uint32_t requestTimeout, std::optional<std::string> tunnel,
                      std::uint32_t gzipLevel);

  SecureString Get(std::string_view uri, const StopToken& stopToken) override;
  SecureString Post(std::string_view uri, std::string_view body, const StopToken& stopToken,
                    bool compress) override;
  SecureString PostMultiPart(std::string_view uri, std::span<const MultiPart> parts,
                             const StopToken& stopToken, bool compress) override;
  SecureString PostBinary(std::string_view contentType, std::string_view uri,
                          std::span<const std::uint8_t> bytes, const StopToken& stopToken) override;
  SecureString GetBinary(std::string_view contentType, std::string_view uri,
                         const StopToken& stopToken) override;
  ResponseWithEndpoint PostEx(std::string_view uri, std::string_view body, const StopToken& stopToken,
                              bool compress) override;

  // How long a request is waited for: both time-outs and the margin, in 64
  // bits, kept below an endless wait.
  static std::uint32_t WaitTimeout(std::uint32_t connectionTimeout, std::uint32_t requestTimeout) noexcept;

 private:
  // Headers, compression, and the properties "uri" and "tunnel" on what is raised.
  SecureString Request(oru::HttpMethod method, std::string_view uri, std::string_view contentType,
                       const std::string_view* body, const StopToken& stopToken, bool compress);
  SecureString MakeRequest(oru::HttpMethod method, std::string_view uri,
                           std::vector<oru::HttpHeader> headers, std::shared_ptr<const std::string> body,
                           const StopToken& stopToken);
  std::string Compress(std::string_view body) EXCLUDES(m_compressorMutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const SensitiveDataTracePolicy m_policy;
  const oru::RefPtr<oru::IHttpClient> m_client;
  const std::uint32_t m_connectionTimeout;
  const std::uint32_t m_requestTimeout;
  const std::optional<std::string> m_tunnel;
  const std::uint32_t m_gzipLevel;

  // Made at the first compressed request and kept: a compressor is a large
  // allocation whose pages would be mapped and cleared for every package.
  struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const noexcept;
  };
  platform::Mutex m_compressorMutex;
  std::unique_ptr<libdeflate_compressor, CompressorDeleter> m_compressor GUARDED_BY(m_compressorMutex);
};

}  // namespace sendara::base
