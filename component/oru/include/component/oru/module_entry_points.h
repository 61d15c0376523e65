#pragma once

#include <cstdint>

#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"

namespace oru {

// The module's two exports, as a host finds them with dlsym. Both have C
// linkage and return a result code.
inline constexpr const char* kCreateObjectEntryPoint = "oruCreateObject";
inline constexpr const char* kCanUnloadModuleEntryPoint = "oruCanUnloadModule";

// Creates an object of `classId` (see class_ids.h) that finds the host's
// services through `locator`, and writes it with one reference to
// `*object`; writes nothing on failure.
using CreateObjectFunction = std::int32_t (*)(std::uint32_t classId, IServiceLocator* locator, IObject** object);
// 0 once no object of the module is alive: only then may the host dlclose it.
using CanUnloadModuleFunction = std::int32_t (*)();

}  // namespace oru
