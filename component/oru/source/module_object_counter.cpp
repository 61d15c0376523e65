#include "component/oru/module_object_counter.h"

#include <atomic>

namespace oru {
namespace {
std::atomic<std::uint32_t> g_objectCount{0};
}  // namespace

void ModuleObjectCounter::Increment() noexcept {
  g_objectCount.fetch_add(1, std::memory_order_relaxed);
}

// Release ordering: whoever reads 0 must see every write of the destroyed
// objects before the module is unloaded.
void ModuleObjectCounter::Decrement() noexcept {
  g_objectCount.fetch_sub(1, std::memory_order_release);
}

std::uint32_t ModuleObjectCounter::Count() noexcept {
  return g_objectCount.load(std::memory_order_acquire);
}

}  // namespace oru
