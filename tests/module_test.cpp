// Drives the built module the way a host does: load it, find the two entry
// points by name (and, on Windows, by ordinal), call them, and unload it once
// it says it may be.
#if defined(_WIN32)
#include "windows_headers.h"
#else
#include <dlfcn.h>
#endif

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/result_text.h"
#include "host/sensitive_data_policy.h"
#include "host/service_locator.h"
#include "host/tracer.h"

namespace {

using CreateObjectFn = std::int32_t (*)(std::uint32_t, oru::IServiceLocator*, oru::IObject**);
using CanUnloadFn = std::int32_t (*)();

#if defined(_WIN32)
using ModuleHandle = HMODULE;
ModuleHandle Load(std::string& error) {
  const HMODULE module = ::LoadLibraryW(std::filesystem::path(EDR_TELEMETRY_MODULE_PATH).wstring().c_str());
  if (!module) error = "LoadLibraryW failed: " + std::to_string(::GetLastError());
  return module;
}
void* Find(ModuleHandle module, const char* name) { return reinterpret_cast<void*>(::GetProcAddress(module, name)); }
bool Unload(ModuleHandle module) { return ::FreeLibrary(module) != 0; }
#else
using ModuleHandle = void*;
ModuleHandle Load(std::string& error) {
  void* const module = ::dlopen(EDR_TELEMETRY_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!module) error = ::dlerror();
  return module;
}
void* Find(ModuleHandle module, const char* name) { return ::dlsym(module, name); }
bool Unload(ModuleHandle module) { return ::dlclose(module) == 0; }
#endif

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    m_module = Load(error);
    ASSERT_NE(m_module, nullptr) << error;
    m_createObject = reinterpret_cast<CreateObjectFn>(Find(m_module, "oruCreateObject"));
    m_canUnload = reinterpret_cast<CanUnloadFn>(Find(m_module, "oruCanUnloadModule"));
  }
  void TearDown() override {
    if (m_module) {
      EXPECT_TRUE(Unload(m_module));
    }
  }

  ModuleHandle m_module = nullptr;
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

// A host unloads the module only once it answers 0: never while one of its
// objects lives.
TEST_F(ModuleTest, AnObjectOfTheModuleHoldsItLoaded) {
  const auto locator = reference_host::ServiceLocator::Create();
  locator->Register(reference_host::Tracer::Create());
  locator->Register(reference_host::SensitiveDataPolicy::Create(false));
  oru::IObject* manager = nullptr;
  ASSERT_EQ(m_createObject(0x9F3C653C, locator.Get(), &manager), 0);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(m_canUnload(), 1);
  manager->Release();
  EXPECT_EQ(m_canUnload(), 0);
}

#if defined(_WIN32)
// Hosts may import the entry points by ordinal: oruCanUnloadModule is 1,
// oruCreateObject 2, and no other ordinal leads anywhere.
TEST_F(ModuleTest, EntryPointsAreFoundByOrdinal) {
  EXPECT_EQ(reinterpret_cast<void*>(::GetProcAddress(m_module, MAKEINTRESOURCEA(1))),
            reinterpret_cast<void*>(m_canUnload));
  EXPECT_EQ(reinterpret_cast<void*>(::GetProcAddress(m_module, MAKEINTRESOURCEA(2))),
            reinterpret_cast<void*>(m_createObject));
  EXPECT_EQ(::GetProcAddress(m_module, MAKEINTRESOURCEA(3)), nullptr);
}
#endif

TEST_F(ModuleTest, InternalSymbolsAreNotReachable) {
  // Names the core defines; the module must keep them to itself.
  EXPECT_EQ(Find(m_module, "_ZN3oru13GetResultTextEi"), nullptr);
  EXPECT_EQ(Find(m_module, "_ZN3oru10ClassTable12CreateObjectEjPNS_15IServiceLocatorEPPNS_7IObjectE"), nullptr);
  // Nor does it answer for the OpenSSL names it forwards.
  EXPECT_EQ(Find(m_module, "SSL_CTX_new"), nullptr);
}

}  // namespace
