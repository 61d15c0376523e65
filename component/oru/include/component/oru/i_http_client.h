#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "component/oru/http_method.h"
#include "component/oru/http_request_options.h"
#include "component/oru/i_http_request_callback.h"
#include "component/oru/i_http_request_controller.h"
#include "component/oru/i_object.h"

namespace oru {

class IHttpClient : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x1C6E2A92;

  // Starts a request; its end comes to `callback`. The body is shared, not
  // copied: the client keeps it until the request has ended.
  virtual Result MakeRequestAsync(HttpMethod method, std::string_view uri, const HttpRequestOptions& options,
                                  std::shared_ptr<const std::string> body, IHttpRequestCallback* callback,
                                  IHttpRequestController** controller) noexcept = 0;

 protected:
  ~IHttpClient() = default;
};

}  // namespace oru
