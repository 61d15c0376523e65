#pragma once

#include <cstdint>

#include "component/oru/i_object.h"

namespace oru {

// Optional host service that decides whether event and request texts may
// appear in traces.
class ISensitiveDataPolicy : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x2B6AB0FB;

  // The component asks with (1, 0); the answer 0 means texts may be traced,
  // anything else means they may not.
  virtual Result CheckSensitiveData(std::uint32_t category, std::uint32_t flags) = 0;

 protected:
  ~ISensitiveDataPolicy() = default;
};

}  // namespace oru
