#pragma once

#include <string>

#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"

namespace sendara::edr_telemetry {

// The events in order, each followed by one line feed: the framing of the
// stream and HTTP bodies. A raw CR or LF inside an event is written as a
// space, so that one event stays one line; in a JSON document they may only
// stand as whitespace between tokens, so the document means the same.
std::string JoinEvents(IRequestSender::Batch batch);

}  // namespace sendara::edr_telemetry
