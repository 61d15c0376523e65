#pragma once

#include <string>

#include "component/oru/basic_object.h"
#include "component/oru/i_syslog_message_suffix.h"
#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/thread_annotations.h"

namespace reference_host {

// The host's syslog message suffix: a fixed text, empty unless set.
class SyslogMessageSuffix final
    : public oru::BasicObject<SyslogMessageSuffix, oru::UncountedObject, oru::ISyslogMessageSuffix> {
 public:
  explicit SyslogMessageSuffix(std::string suffix = {}) : m_suffix(std::move(suffix)) {}

  oru::Result GetSuffix(std::string& suffix) noexcept override EXCLUDES(m_mutex) {
    try {
      platform::MutexLock lock(&m_mutex);
      suffix = m_suffix;
      return oru::rc::NoError;
    } catch (...) {
      return oru::rc::OutOfMemory;
    }
  }
  void SetSuffix(std::string suffix) EXCLUDES(m_mutex) {
    platform::MutexLock lock(&m_mutex);
    m_suffix = std::move(suffix);
  }

 private:
  platform::Mutex m_mutex;
  std::string m_suffix GUARDED_BY(m_mutex);
};

}  // namespace reference_host
