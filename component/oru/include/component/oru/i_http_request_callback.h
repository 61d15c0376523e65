#pragma once

#include <cstdint>
#include <span>

#include "component/oru/i_object.h"

namespace oru {

// Told about a request as it ends. The client holds its reference from
// MakeRequestAsync until RequestCompleted has returned, so that a caller
// that stopped waiting leaves nothing behind that the client could reach
// freed.
class IHttpRequestCallback : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x1C6E2A90;

  // Bytes of the response body as they arrive, decoded; on a client thread.
  virtual void ResponseData(std::span<const std::uint8_t> bytes) noexcept = 0;
  // Once per request, on a client thread: the result and the HTTP status (0
  // when no answer came). A redirect is not followed: its status comes back.
  virtual void RequestCompleted(Result result, std::uint16_t status) noexcept = 0;

 protected:
  ~IHttpRequestCallback() = default;
};

}  // namespace oru
