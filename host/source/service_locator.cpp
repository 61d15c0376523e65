#include "host/service_locator.h"

#include <utility>

#include "component/platform/mutex_lock.h"

namespace reference_host {

void ServiceLocator::Register(oru::InterfaceId iid, oru::RefPtr<oru::IObject> service,
                              std::uint32_t serviceKey) {
  oru::RefPtr<oru::IObject> replaced;
  {
    platform::MutexLock lock(&m_mutex);
    replaced = std::exchange(m_services[{iid, serviceKey}], std::move(service));
  }
  // Released outside the lock, as in Unregister.
}

void ServiceLocator::Unregister(oru::InterfaceId iid, std::uint32_t serviceKey) {
  oru::RefPtr<oru::IObject> removed;
  {
    platform::MutexLock lock(&m_mutex);
    const auto it = m_services.find({iid, serviceKey});
    if (it == m_services.end()) return;
    removed = std::move(it->second);
    m_services.erase(it);
  }
  // Released outside the lock: the last release may call back into the host.
}

oru::Result ServiceLocator::GetInterface(oru::InterfaceId iid, std::uint32_t serviceKey,
                                         void** object) {
  if (!object) return oru::rc::InvalidArgument;
  oru::RefPtr<oru::IObject> service;
  {
    platform::MutexLock lock(&m_mutex);
    const auto it = m_services.find({iid, serviceKey});
    if (it == m_services.end()) return oru::rc::NotFound;
    service = it->second;
  }
  return service->QueryInterface(iid, object);
}

}  // namespace reference_host
