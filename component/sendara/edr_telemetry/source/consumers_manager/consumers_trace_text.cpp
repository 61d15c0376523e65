#include "component/sendara/edr_telemetry/source/consumers_manager/consumers_trace_text.h"

#include <cstdint>
#include <cstdio>

#include "component/sendara/base/detail/common/utf_convert.h"

namespace sendara::edr_telemetry {
namespace {

template <class T>
std::string JoinTraceTexts(const std::vector<T>& items) {
  std::string text;
  for (const T& item : items) {
    if (!text.empty()) text += ", ";
    text += ToTraceText(item);
  }
  return text;
}

const char* Bit(bool value) noexcept { return value ? "1" : "0"; }

}  // namespace

std::string ToTraceText(const EventTypeSetting& setting) {
  return "{\"event\": \"" + base::ToUtf8(setting.event) + "\", \"included\": \"" +
         (setting.included ? "true" : "false") + "\"}";
}

std::string ToTraceText(const std::vector<EventTypeSetting>& settings) { return JoinTraceTexts(settings); }

std::string ToTraceText(const ConsumerEventTypeSettings& settings) {
  return "{\"consumerId\": \"" + std::to_string(settings.consumerId) + "\", \"eventsTypeSettings\": [ " +
         ToTraceText(settings.eventsTypeSettings) + " ]}";
}

std::string ToTraceText(const std::vector<ConsumerEventTypeSettings>& settings) { return JoinTraceTexts(settings); }

std::string ToTraceText(const Ioa& ioa) {
  return "{\"guid\": \"" + ioa.guid + "\", \"version\": " + std::to_string(ioa.version) +
         ", \"isMarkable\": " + Bit(ioa.isMarkable) + ", \"isAlertable\": " + Bit(ioa.isAlertable) +
         ", \"isQdxStatExpected\": " + Bit(ioa.isQdxStatExpected) + "}";
}

std::string ToTraceText(const std::vector<Ioa>& ioas) { return JoinTraceTexts(ioas); }

std::string ResultToTraceText(oru::Result result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(result)));
  return text;
}

}  // namespace sendara::edr_telemetry
