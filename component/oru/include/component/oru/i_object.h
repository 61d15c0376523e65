#pragma once

#include <cstdint>

#include "component/oru/result_code.h"

namespace oru {

using InterfaceId = std::uint32_t;

// The base of every framework interface. The three operations occupy the
// first three virtual slots, in this order, in every interface that derives
// from it; interfaces declare no virtual destructor so that the slot order is
// the one hosts rely on. Objects are destroyed only through Release().
class IObject {
 public:
  static constexpr InterfaceId kIid = 0;

  virtual std::uint32_t AddRef() noexcept = 0;
  virtual std::uint32_t Release() noexcept = 0;
  // Writes the interface and adds a reference when `iid` is in the object's
  // table; answers InterfaceNotSupported otherwise, and InvalidArgument (writing
  // nothing) for a null `object`.
  virtual Result QueryInterface(InterfaceId iid, void** object) noexcept = 0;

 protected:
  ~IObject() = default;
};

}  // namespace oru
