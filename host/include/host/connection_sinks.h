#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_connected_sink.h"
#include "component/oru/i_connection_error_sink.h"
#include "component/oru/i_incorrect_settings_sink.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"

namespace reference_host {

// The host's connection sinks, one object for the three: records every
// event it is told of and hands it to an observer the host may set.
// Register it with ServiceLocator::RegisterAs under the three interfaces.
class ConnectionSinks final
    : public oru::BasicObject<ConnectionSinks, oru::UncountedObject, oru::IConnectedSink,
                              oru::IConnectionErrorSink, oru::IIncorrectSettingsSink> {
 public:
  enum class Kind { kConnected, kConnectionError, kIncorrectSettings };

  struct Record {
    Kind kind;
    std::uint32_t reason;  // 0 for kConnected
    std::string serverAddress;  // empty for kIncorrectSettings
    std::optional<std::string> tunnel;
  };

  // Called on the component's thread for each event once it is recorded,
  // outside the sinks' lock, so it may call back into the component. What it
  // raises makes the sink answer Unexpected.
  using Observer = std::function<void(const Record&)>;

  explicit ConnectionSinks(Observer observer = {});

  oru::Result Connected(std::string_view serverAddress, const std::optional<std::string>& tunnel) noexcept override;
  oru::Result ConnectionError(std::uint32_t reason, std::string_view serverAddress,
                              const std::optional<std::string>& tunnel) noexcept override;
  oru::Result IncorrectSettings(std::uint32_t reason) noexcept override;

  void SetObserver(Observer observer) EXCLUDES(m_mutex);
  std::vector<Record> Records() const EXCLUDES(m_mutex);
  // Waits until at least `count` events have been recorded.
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) const EXCLUDES(m_mutex);

 private:
  // The observer may call back into the sinks: it runs outside the lock.
  oru::Result Add(Kind kind, std::uint32_t reason, std::string_view serverAddress,
                  const std::optional<std::string>& tunnel) noexcept EXCLUDES(m_mutex);

  mutable platform::Mutex m_mutex;
  mutable platform::ConditionVariable m_recordAdded;
  Observer m_observer GUARDED_BY(m_mutex);
  std::vector<Record> m_records GUARDED_BY(m_mutex);
};

}  // namespace reference_host
