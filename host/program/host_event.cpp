#include "host/program/host_event.h"

#include <limits>
#include <optional>

#include <boost/json.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"

namespace reference_host {
namespace {

namespace json = boost::json;

// A whole number from 0 to 2^32 - 1; nothing for any other value, which a
// conversion would throw for or cut short.
std::optional<std::uint32_t> Unsigned32(const json::value& value) {
  std::uint64_t number = 0;
  if (value.is_uint64()) {
    number = value.get_uint64();
  } else if (value.is_int64() && value.get_int64() >= 0) {
    number = static_cast<std::uint64_t>(value.get_int64());
  } else {
    return std::nullopt;
  }
  if (number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

bool ReadIoa(const json::value& value, sendara::edr_telemetry::Ioa& ioa) {
  if (!value.is_object()) return false;
  for (const auto& [name, member] : value.as_object()) {
    if (name == "guid" && member.is_string()) {
      ioa.guid = std::string(member.as_string());
    } else if (name == "version") {
      const std::optional<std::uint32_t> version = Unsigned32(member);
      if (!version) return false;
      ioa.version = *version;
    } else if (name == "isMarkable" && member.is_bool()) {
      ioa.isMarkable = member.as_bool();
    } else if (name == "isAlertable" && member.is_bool()) {
      ioa.isAlertable = member.as_bool();
    } else if (name == "isQdxStatExpected" && member.is_bool()) {
      ioa.isQdxStatExpected = member.as_bool();
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<HostEvent> HostEvent::Parse(std::string_view line, std::string& error) {
  boost::system::error_code parseError;
  const json::value document = json::parse(line, parseError);
  if (parseError) {
    error = "not JSON: " + parseError.message();
    return std::nullopt;
  }
  if (!document.is_object()) {
    error = "not a JSON object";
    return std::nullopt;
  }
  const json::object& object = document.as_object();
  HostEvent event;
  const json::value* type = object.if_contains("eventType");
  if (!type || !type->is_string()) {
    error = "\"eventType\" should be a string";
    return std::nullopt;
  }
  event.eventType = sendara::base::ToUtf16(type->as_string());
  if (const json::value* id = object.if_contains("throttlingId")) {
    if (!id->is_uint64() && !(id->is_int64() && id->as_int64() >= 0)) {
      error = "\"throttlingId\" should be a number";
      return std::nullopt;
    }
    const std::uint64_t value = id->to_number<std::uint64_t>();
    if (value > std::numeric_limits<std::uint32_t>::max()) {
      error = "\"throttlingId\" is out of range";
      return std::nullopt;
    }
    event.throttlingId = static_cast<std::uint32_t>(value);
  }
  if (const json::value* ioas = object.if_contains("ioas")) {
    if (!ioas->is_array()) {
      error = "\"ioas\" should be an array";
      return std::nullopt;
    }
    for (const json::value& item : ioas->as_array()) {
      sendara::edr_telemetry::Ioa ioa;
      if (!ReadIoa(item, ioa)) {
        error = "an IOA is not {guid, version, isMarkable, isAlertable, isQdxStatExpected}";
        return std::nullopt;
      }
      event.ioas.push_back(std::move(ioa));
    }
  }
  const json::value* body = object.if_contains("event");
  if (!body || !body->is_object()) {
    error = "\"event\" should be an object";
    return std::nullopt;
  }
  event.text = sendara::base::ToUtf16(json::serialize(*body));
  return event;
}

}  // namespace reference_host
