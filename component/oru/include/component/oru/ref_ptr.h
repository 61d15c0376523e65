#pragma once

#include <cstddef>
#include <utility>

#include "component/oru/i_object.h"

namespace oru {

// Owning pointer to a reference-counted framework object: holds one reference
// and releases it when it goes.
template <class T>
class RefPtr {
 public:
  RefPtr() noexcept = default;
  RefPtr(std::nullptr_t) noexcept {}
  // Takes a new reference on `object`.
  explicit RefPtr(T* object) noexcept : m_object(object) {
    if (m_object) m_object->AddRef();
  }
  RefPtr(const RefPtr& other) noexcept : RefPtr(other.m_object) {}
  RefPtr(RefPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
  template <class U>
  RefPtr(const RefPtr<U>& other) noexcept : RefPtr(other.Get()) {}
  template <class U>
  RefPtr(RefPtr<U>&& other) noexcept : m_object(other.Detach()) {}
  ~RefPtr() { Reset(); }

  RefPtr& operator=(RefPtr other) noexcept {
    std::swap(m_object, other.m_object);
    return *this;
  }

  // Adopts a reference the caller already owns (an out-parameter's result).
  static RefPtr Adopt(T* object) noexcept {
    RefPtr p;
    p.m_object = object;
    return p;
  }

  void Reset() noexcept {
    if (T* old = std::exchange(m_object, nullptr)) old->Release();
  }
  // Gives up ownership of the held reference to the caller.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(m_object, nullptr); }

  T* Get() const noexcept { return m_object; }
  T* operator->() const noexcept { return m_object; }
  T& operator*() const noexcept { return *m_object; }
  explicit operator bool() const noexcept { return m_object != nullptr; }

  friend bool operator==(const RefPtr& a, const RefPtr& b) noexcept {
    return a.m_object == b.m_object;
  }
  friend bool operator==(const RefPtr& a, std::nullptr_t) noexcept { return !a.m_object; }

 private:
  T* m_object = nullptr;
};

// Asks `object` for interface I; an empty pointer when it does not have it.
template <class I, class T>
RefPtr<I> QueryInterfaceAs(T* object) noexcept {
  if (!object) return {};
  void* out = nullptr;
  if (Failed(object->QueryInterface(I::kIid, &out)) || !out) return {};
  return RefPtr<I>::Adopt(static_cast<I*>(out));
}

}  // namespace oru
