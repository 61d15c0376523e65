#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/module_entry_points.h"
#include "component/oru/ref_ptr.h"

namespace reference_host {

// The component's library, loaded as a host loads it: by path, with its two
// entry points found by name. Unloaded on destruction, only when it says no
// object of it is alive.
class ComponentModule {
 public:
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // Raises Error when the library does not load or lacks an entry point.
  explicit ComponentModule(const std::filesystem::path& path);
  ComponentModule(const ComponentModule&) = delete;
  ComponentModule& operator=(const ComponentModule&) = delete;
  ~ComponentModule();

  // Raises Error with the result code's text when the class cannot be made.
  oru::RefPtr<oru::IObject> CreateObject(std::uint32_t classId, oru::IServiceLocator* locator) const;
  bool CanUnload() const;

 private:

  void* m_handle = nullptr;
  oru::CreateObjectFunction m_createObject = nullptr;
  oru::CanUnloadModuleFunction m_canUnload = nullptr;
};

}  // namespace reference_host
