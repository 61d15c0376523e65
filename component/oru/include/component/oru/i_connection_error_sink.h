#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "component/oru/i_object.h"

namespace oru {

// Optional host service told when a connection to the SIEM failed.
class IConnectionErrorSink : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x8272AAE9;

  // `reason`: 0 common failure, 1 the server's certificate was refused, 2 the
  // client's certificate was refused. `tunnel`: as for IConnectedSink.
  virtual Result ConnectionError(std::uint32_t reason, std::string_view serverAddress,
                                 const std::optional<std::string>& tunnel) noexcept = 0;

 protected:
  ~IConnectionErrorSink() = default;
};

}  // namespace oru
