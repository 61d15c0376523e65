#pragma once

#include <mutex>
#include <string>

#include "component/oru/basic_object.h"
#include "component/oru/i_syslog_message_suffix.h"

namespace reference_host {

// The host's syslog message suffix: a fixed text, empty unless set.
class SyslogMessageSuffix final
    : public oru::BasicObject<SyslogMessageSuffix, oru::UncountedObject, oru::ISyslogMessageSuffix> {
 public:
  explicit SyslogMessageSuffix(std::string suffix = {}) : m_suffix(std::move(suffix)) {}

  oru::Result GetSuffix(std::string& suffix) noexcept override {
    try {
      std::lock_guard lock(m_mutex);
      suffix = m_suffix;
      return oru::rc::NoError;
    } catch (...) {
      return oru::rc::OutOfMemory;
    }
  }
  void SetSuffix(std::string suffix) {
    std::lock_guard lock(m_mutex);
    m_suffix = std::move(suffix);
  }

 private:
  std::mutex m_mutex;
  std::string m_suffix;
};

}  // namespace reference_host
