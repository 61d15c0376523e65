#pragma once

#include <string>
#include <vector>

#include "component/oru/result_code.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/ioa.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/consumer_event_type_settings.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h"

namespace sendara::edr_telemetry {

// How the consumers manager and its consumers write their records in trace
// lines: JSON-like records, lists joined by ", " without brackets (the lines
// put their own around them). Texts are written as they are, unescaped.

// {"event": "<type>", "included": "true"}
std::string ToTraceText(const EventTypeSetting& setting);
std::string ToTraceText(const std::vector<EventTypeSetting>& settings);
// {"consumerId": "<decimal>", "eventsTypeSettings": [ <settings> ]}
std::string ToTraceText(const ConsumerEventTypeSettings& settings);
std::string ToTraceText(const std::vector<ConsumerEventTypeSettings>& settings);
// {"guid": "<guid>", "version": N, "isMarkable": 0|1, "isAlertable": 0|1, "isQdxStatExpected": 0|1}
std::string ToTraceText(const Ioa& ioa);
std::string ToTraceText(const std::vector<Ioa>& ioas);
// "0x" and the code in eight uppercase hexadecimal digits, as results appear
// in the host's traces.
std::string ResultToTraceText(oru::Result result);

}  // namespace sendara::edr_telemetry
