// The module's only exported functions. Everything else in the library has
// hidden visibility and is kept out of the dynamic symbol table by the
// version script (exports.map); a Windows DLL exports what its module
// definition file (exports.def) lists, by name and ordinal.
#include <cstdint>
#include <type_traits>

#include "component/oru/class_table.h"
#include "component/oru/module_entry_points.h"

#if defined(_WIN32)
#define ORU_EXPORT extern "C"
#else
#define ORU_EXPORT extern "C" __attribute__((visibility("default")))
#endif

ORU_EXPORT std::int32_t oruCreateObject(std::uint32_t classId, oru::IServiceLocator* locator,
                                        oru::IObject** object) {
  return oru::ClassTable::CreateObject(classId, locator, object);
}

ORU_EXPORT std::int32_t oruCanUnloadModule() { return oru::ClassTable::CanUnloadModule(); }

// Hosts call the exports through the types of the installed header.
static_assert(std::is_same_v<decltype(&oruCreateObject), oru::CreateObjectFunction>);
static_assert(std::is_same_v<decltype(&oruCanUnloadModule), oru::CanUnloadModuleFunction>);
