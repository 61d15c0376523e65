#pragma once

#include "component/oru/i_object.h"

namespace oru {

// A piece of work the host starts and stops.
class ITask : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x1B7F3A92;

  virtual Result Start() noexcept = 0;
  virtual Result Stop() noexcept = 0;
  virtual Result Pause() noexcept = 0;
  virtual Result Resume() noexcept = 0;

 protected:
  ~ITask() = default;
};

}  // namespace oru
