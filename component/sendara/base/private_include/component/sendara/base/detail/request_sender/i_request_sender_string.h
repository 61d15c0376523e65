#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "component/sendara/base/detail/common/stop_token.h"
#include "component/sendara/base/detail/request_sender/multi_part.h"
#include "component/sendara/base/detail/request_sender/response_with_endpoint.h"
#include "component/sendara/base/detail/request_sender/secure_string.h"

namespace sendara::base {

// Sends HTTP requests and returns what the server answered.
//
// Every request raises:
//   stop_exception        the stop token was set (the request's own failure
//                         nested);
//   connection_exception  the request was not delivered: no answer within the
//                         time-outs, or no final status (property "reason");
//   http_exception        the server answered 400 or above ("http_code");
//   tools_exception       the client could not start or complete it.
// Each carries the properties "uri" and "tunnel".
class IRequestSenderString {
 public:
  virtual ~IRequestSenderString() = default;

  virtual SecureString Get(std::string_view uri, const StopToken& stopToken) = 0;
  // A JSON body, gzip-compressed on the way when `compress`.
  virtual SecureString Post(std::string_view uri, std::string_view body, const StopToken& stopToken,
                            bool compress) = 0;
  virtual SecureString PostMultiPart(std::string_view uri, std::span<const MultiPart> parts,
                                     const StopToken& stopToken, bool compress) = 0;
  // `contentType` is the request's "Content-type".
  virtual SecureString PostBinary(std::string_view contentType, std::string_view uri,
                                  std::span<const std::uint8_t> bytes, const StopToken& stopToken) = 0;
  virtual SecureString GetBinary(std::string_view contentType, std::string_view uri,
                                 const StopToken& stopToken) = 0;
  // As Post, with the local endpoint the request used.
  virtual ResponseWithEndpoint PostEx(std::string_view uri, std::string_view body,
                                      const StopToken& stopToken, bool compress) = 0;
};

}  // namespace sendara::base
