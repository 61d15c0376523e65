#pragma once

#include <cstdint>

namespace oru {

// The module-wide count of live framework objects, behind oruCanUnloadModule.
// Changed with atomic operations only; no lock is taken.
class ModuleObjectCounter {
 public:
  static void Increment() noexcept;
  static void Decrement() noexcept;
  static std::uint32_t Count() noexcept;
};

// For objects a binary implements for the component's hosts (the reference
// host, tests): they do not keep the component's module loaded.
class UncountedObject {
 public:
  static void Increment() noexcept {}
  static void Decrement() noexcept {}
};

}  // namespace oru
