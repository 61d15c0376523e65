#pragma once

#include <string>

#include "component/oru/i_object.h"
#include "component/oru/service_ids.h"

namespace oru {

// Host service: text the host appends to every syslog message the
// component sends (its own mark, if it has one). An empty text appends
// nothing.
class ISyslogMessageSuffix : public IObject {
 public:
  static constexpr InterfaceId kIid = service_ids::kClientCreationServiceB;

  virtual Result GetSuffix(std::string& suffix) noexcept = 0;

 protected:
  ~ISyslogMessageSuffix() = default;
};

}  // namespace oru
