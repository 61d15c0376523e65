#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "component/oru/i_object.h"

namespace oru {

// Optional host service told when an endpoint of the SIEM took a package,
// for the host's user interface.
class IConnectedSink : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x7893A4C9;

  // `tunnel`: the tunnel the connection went through, when there is one.
  virtual Result Connected(std::string_view serverAddress,
                           const std::optional<std::string>& tunnel) noexcept = 0;

 protected:
  ~IConnectedSink() = default;
};

}  // namespace oru
