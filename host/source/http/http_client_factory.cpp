#include "host/http/http_client_factory.h"

#include <new>

#include "host/http/http_client.h"

namespace reference_host {

oru::Result HttpClientFactory::CreateClient(const oru::HttpClientSettings& settings,
                                            oru::IHttpClient** client) noexcept {
  if (!client) return oru::rc::InvalidArgument;
  *client = nullptr;
  try {
    *client = HttpClient::Create(settings).Detach();
    return oru::rc::NoError;
  } catch (const std::bad_alloc&) {
    return oru::rc::OutOfMemory;
  } catch (...) {
    return oru::rc::UnspecifiedError;
  }
}

}  // namespace reference_host
