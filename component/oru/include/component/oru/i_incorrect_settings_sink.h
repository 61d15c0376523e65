#pragma once

#include <cstdint>

#include "component/oru/i_object.h"

namespace oru {

// Optional host service told when settings could not be applied.
class IIncorrectSettingsSink : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x518EF183;

  // `reason`: 1 the client certificate could not be decrypted.
  virtual Result IncorrectSettings(std::uint32_t reason) noexcept = 0;

 protected:
  ~IIncorrectSettingsSink() = default;
};

}  // namespace oru
