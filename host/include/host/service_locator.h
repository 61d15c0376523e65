#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "component/oru/basic_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace reference_host {

// The host's registry of services by (interface id, service key).
class ServiceLocator final
    : public oru::BasicObject<ServiceLocator, oru::UncountedObject, oru::IServiceLocator> {
 public:
  ServiceLocator() = default;

  // Registers `service` to answer `iid`; replaces an earlier registration.
  void Register(oru::InterfaceId iid, oru::RefPtr<oru::IObject> service,
                std::uint32_t serviceKey = 0) EXCLUDES(m_mutex);
  template <class I>
  void Register(const oru::RefPtr<I>& service, oru::InterfaceId iid = I::kIid) {
    Register(iid, oru::RefPtr<oru::IObject>(static_cast<oru::IObject*>(service.Get())));
  }
  // Registers one object that implements several interfaces under the id of
  // each of `Interfaces`.
  template <class... Interfaces, class T>
  void RegisterAs(const oru::RefPtr<T>& service) {
    (Register(oru::RefPtr<Interfaces>(service.Get())), ...);
  }
  void Unregister(oru::InterfaceId iid, std::uint32_t serviceKey = 0) EXCLUDES(m_mutex);

  // NotFound for an unregistered service; otherwise the service's answer to
  // QueryInterface(iid), so that a registered object must really implement
  // the interface it is registered for.
  oru::Result GetInterface(oru::InterfaceId iid, std::uint32_t serviceKey, void** object) override
      EXCLUDES(m_mutex);

 private:
  platform::Mutex m_mutex;
  std::map<std::pair<oru::InterfaceId, std::uint32_t>, oru::RefPtr<oru::IObject>> m_services GUARDED_BY(m_mutex);
};

}  // namespace reference_host
