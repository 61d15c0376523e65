#include "host/settings_hook.h"

#include <utility>

#include "component/platform/mutex_lock.h"

namespace reference_host {

SettingsHook::SettingsHook(Action action) : m_action(std::move(action)) {}

oru::Result SettingsHook::ProcessSettings(sendara::edr_telemetry::EdrTelemetryClientSettings& settings) {
  ++m_calls;
  Action action;
  {
    platform::MutexLock lock(&m_mutex);
    action = m_action;
  }
  // Called outside the lock: the action may replace itself.
  return action ? action(settings) : oru::rc::NoError;
}

void SettingsHook::SetAction(Action action) {
  Action replaced;
  {
    platform::MutexLock lock(&m_mutex);
    replaced = std::exchange(m_action, std::move(action));
  }
  // What the old action holds is released outside the lock.
}

}  // namespace reference_host
