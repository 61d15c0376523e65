#pragma once

#include <cstdint>

#include "component/oru/exception.h"
#include "component/oru/i_object.h"

namespace oru {

// A required service the locator could not give: "Can't get interface", with
// the locator's result code, the interface id and the service key.
class GetInterfaceException : public Exception {
 public:
  GetInterfaceException(Result code, InterfaceId iid, std::uint32_t serviceKey, const char* file,
                        int line);

  InterfaceId Iid() const noexcept { return m_iid; }

 private:
  InterfaceId m_iid;
};

}  // namespace oru
