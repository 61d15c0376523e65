#include "host/program/component_module.h"

#include <dlfcn.h>

#include <sstream>

#include "component/oru/result_code.h"
#include "component/oru/result_text.h"

namespace reference_host {

ComponentModule::ComponentModule(const std::filesystem::path& path) {
  m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    const char* error = ::dlerror();
    throw Error("can't load " + path.string() + ": " + (error ? error : "unknown error"));
  }
  m_createObject = reinterpret_cast<oru::CreateObjectFunction>(::dlsym(m_handle, oru::kCreateObjectEntryPoint));
  m_canUnload = reinterpret_cast<oru::CanUnloadModuleFunction>(::dlsym(m_handle, oru::kCanUnloadModuleEntryPoint));
  if (!m_createObject || !m_canUnload) {
    ::dlclose(m_handle);
    throw Error(path.string() + " lacks oruCreateObject or oruCanUnloadModule");
  }
}

ComponentModule::~ComponentModule() {
  // A module with live objects stays: its code may still run.
  if (CanUnload()) ::dlclose(m_handle);
}

oru::RefPtr<oru::IObject> ComponentModule::CreateObject(std::uint32_t classId, oru::IServiceLocator* locator) const {
  oru::IObject* object = nullptr;
  const std::int32_t result = m_createObject(classId, locator, &object);
  if (result < 0 || !object) {
    std::ostringstream text;
    text << "can't create class 0x" << std::hex << std::uppercase << classId << ": 0x" << static_cast<std::uint32_t>(result)
         << " " << oru::GetResultText(result);
    throw Error(text.str());
  }
  return oru::RefPtr<oru::IObject>::Adopt(object);
}

bool ComponentModule::CanUnload() const { return m_canUnload() == 0; }

}  // namespace reference_host
