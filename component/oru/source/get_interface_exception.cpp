#include "component/oru/get_interface_exception.h"

namespace oru {

GetInterfaceException::GetInterfaceException(Result code, InterfaceId iid, std::uint32_t serviceKey,
                                             const char* file, int line)
    : Exception("Can't get interface", file, line), m_iid(iid) {
  SetCode(code);
  SetProperty(property::kIid, static_cast<std::uint64_t>(iid));
  SetProperty(property::kServiceKey, static_cast<std::uint64_t>(serviceKey));
}

}  // namespace oru
