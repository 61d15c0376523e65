#pragma once

#include <cstdint>

#include "component/oru/get_interface_exception.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"

namespace oru {

// A service the operation cannot do without: a locator failure (or no
// locator) raises GetInterfaceException with the locator's result code.
template <class I>
RefPtr<I> GetRequiredService(IServiceLocator* locator, InterfaceId iid = I::kIid,
                             std::uint32_t serviceKey = 0) {
  void* object = nullptr;
  const Result result =
      locator ? locator->GetInterface(iid, serviceKey, &object) : rc::InvalidArgument;
  if (Failed(result) || !object) {
    throw GetInterfaceException(Failed(result) ? result : rc::NotFound, iid, serviceKey, __FILE__,
                                __LINE__);
  }
  return RefPtr<I>::Adopt(static_cast<I*>(object));
}

// A service whose feature is skipped without it: empty when absent.
template <class I>
RefPtr<I> GetOptionalService(IServiceLocator* locator, InterfaceId iid = I::kIid,
                             std::uint32_t serviceKey = 0) noexcept {
  if (!locator) return {};
  void* object = nullptr;
  try {
    if (Failed(locator->GetInterface(iid, serviceKey, &object)) || !object) return {};
  } catch (...) {
    // A host that throws across the boundary is treated as not having it.
    return {};
  }
  return RefPtr<I>::Adopt(static_cast<I*>(object));
}

}  // namespace oru
