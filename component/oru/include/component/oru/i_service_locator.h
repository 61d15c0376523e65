#pragma once

#include <cstdint>

#include "component/oru/i_object.h"

namespace oru {

// The host's registry of services, handed to oruCreateObject. The component
// finds every host service, and its own registered objects, through it.
class IServiceLocator : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x0C5E7A10;

  // Writes the service registered under (iid, serviceKey) with a reference
  // added; the component always asks with serviceKey 0.
  virtual Result GetInterface(InterfaceId iid, std::uint32_t serviceKey, void** object) = 0;

 protected:
  ~IServiceLocator() = default;
};

}  // namespace oru
