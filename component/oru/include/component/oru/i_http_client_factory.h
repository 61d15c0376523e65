#pragma once

#include "component/oru/http_client_settings.h"
#include "component/oru/i_http_client.h"
#include "component/oru/i_object.h"

namespace oru {

// The host service the component finds in the locator.
class IHttpClientFactory : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x3D405B42;

  virtual Result CreateClient(const HttpClientSettings& settings, IHttpClient** client) noexcept = 0;

 protected:
  ~IHttpClientFactory() = default;
};

}  // namespace oru
