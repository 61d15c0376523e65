// The module's only exported functions. Everything else in the library has
// hidden visibility and is kept out of the dynamic symbol table by the
// version script.
#include <cstdint>

#include "component/oru/class_table.h"

#define ORU_EXPORT extern "C" __attribute__((visibility("default")))

ORU_EXPORT std::int32_t oruCreateObject(std::uint32_t classId, oru::IServiceLocator* locator,
                                        oru::IObject** object) {
  return oru::ClassTable::CreateObject(classId, locator, object);
}

ORU_EXPORT std::int32_t oruCanUnloadModule() { return oru::ClassTable::CanUnloadModule(); }
