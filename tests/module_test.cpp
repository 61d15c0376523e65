// Drives the built module the way a host does: load it, find the two entry
// points by name, call them.
#include <dlfcn.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/result_text.h"
#include "host/service_locator.h"

namespace {

using CreateObjectFn = std::int32_t (*)(std::uint32_t, oru::IServiceLocator*, oru::IObject**);
using CanUnloadFn = std::int32_t (*)();

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_module = ::dlopen(EDR_TELEMETRY_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_module, nullptr) << ::dlerror();
    m_createObject = reinterpret_cast<CreateObjectFn>(::dlsym(m_module, "oruCreateObject"));
    m_canUnload = reinterpret_cast<CanUnloadFn>(::dlsym(m_module, "oruCanUnloadModule"));
  }
  void TearDown() override {
    if (m_module) ::dlclose(m_module);
  }

  void* m_module = nullptr;
  CreateObjectFn m_createObject = nullptr;
  CanUnloadFn m_canUnload = nullptr;
};

TEST_F(ModuleTest, EntryPointsAnswer) {
  ASSERT_NE(m_createObject, nullptr);
  ASSERT_NE(m_canUnload, nullptr);
  EXPECT_EQ(m_canUnload(), 0);

  oru::IObject* sentinel = reinterpret_cast<oru::IObject*>(0x20);
  oru::IObject* out = sentinel;
  EXPECT_EQ(static_cast<std::uint32_t>(m_createObject(5, nullptr, &out)), 0x80000100u);
  EXPECT_EQ(out, sentinel);
  // The id some hosts use to end the process only answers "Class not found".
  EXPECT_EQ(static_cast<std::uint32_t>(m_createObject(0xBAD1BAD1, nullptr, &out)), 0x80000100u);
  EXPECT_EQ(out, sentinel);
  const auto locator = reference_host::ServiceLocator::Create();
  EXPECT_EQ(static_cast<std::uint32_t>(m_createObject(0xD7A2C492, locator.Get(), nullptr)),
            0x80000046u);
  EXPECT_EQ(m_canUnload(), 0);
}

TEST_F(ModuleTest, InternalSymbolsAreNotReachable) {
  // Names the core defines; the module must keep them to itself.
  EXPECT_EQ(::dlsym(m_module, "_ZN3oru13GetResultTextEi"), nullptr);
  EXPECT_EQ(::dlsym(m_module, "_ZN3oru10ClassTable12CreateObjectEjPNS_15IServiceLocatorEPPNS_7IObjectE"),
            nullptr);
}

}  // namespace
