#pragma once

#include <atomic>
#include <cstdint>
#include <tuple>
#include <utility>

#include "component/oru/i_object.h"
#include "component/oru/module_object_counter.h"
#include "component/oru/ref_ptr.h"

namespace oru {

// Implements the framework object model for a class `Derived` that implements
// `Interfaces...`: an atomic reference count, QueryInterface over the class's
// static interface table, and the module object count (through `Counter`).
//
// The interface table answers id 0 (the base interface) and each interface's
// kIid with the interfaces in the order they are listed; id 0 is the first.
template <class Derived, class Counter, class... Interfaces>
class BasicObject : public Interfaces... {
  static_assert(sizeof...(Interfaces) >= 1, "an object implements at least one interface");

 public:
  BasicObject(const BasicObject&) = delete;
  BasicObject& operator=(const BasicObject&) = delete;

  // Creates an object with a reference count of 1, counted in the module.
  // A constructor that throws leaves the count as it was.
  template <class... Args>
  static RefPtr<Derived> Create(Args&&... args) {
    return RefPtr<Derived>::Adopt(new Derived(std::forward<Args>(args)...));
  }

  std::uint32_t AddRef() noexcept override {
    return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  // The module count falls inside the destructor, before Release returns: a
  // host unloads the module only once no call into it is under way, as the
  // object model has always required.
  std::uint32_t Release() noexcept override {
    const std::uint32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return count;
  }

  Result QueryInterface(InterfaceId iid, void** object) noexcept override {
    if (!object) return rc::InvalidArgument;
    for (const Entry& entry : kInterfaceTable) {
      if (entry.iid == iid) {
        *object = entry.cast(this);
        AddRef();
        return rc::NoError;
      }
    }
    return rc::InterfaceNotSupported;
  }

 protected:
  BasicObject() noexcept { Counter::Increment(); }
  virtual ~BasicObject() { Counter::Decrement(); }

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  struct Entry {
    InterfaceId iid;
    void* (*cast)(BasicObject*) noexcept;
  };

  template <class I>
  static void* CastTo(BasicObject* self) noexcept {
    return static_cast<I*>(self);
  }

  static constexpr Entry kInterfaceTable[] = {
      {IObject::kIid, &CastTo<First>},
      {Interfaces::kIid, &CastTo<Interfaces>}...,
  };

  std::atomic<std::uint32_t> m_refCount{1};
};

// Creates an object of a class derived from a BasicObject-based class, with
// a reference count of 1.
template <class T, class... Args>
RefPtr<T> MakeObject(Args&&... args) {
  return RefPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

// A framework object counted in this module's object count.
template <class Derived, class... Interfaces>
using Object = BasicObject<Derived, ModuleObjectCounter, Interfaces...>;

}  // namespace oru
