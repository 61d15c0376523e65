#pragma once

#include "component/oru/i_object.h"

namespace oru {

// Ends a request under way.
class IHttpRequestController : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x1C6E2A91;

  // The request completes soon after with OperationCancelled, unless it had
  // completed already; NoError either way.
  virtual Result Cancel() noexcept = 0;

 protected:
  ~IHttpRequestController() = default;
};

}  // namespace oru
