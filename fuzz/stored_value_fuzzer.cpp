// Reading the event text out of a stored row. The input is read as a row,
// and the reader must agree with a plain Boost.JSON reading of it (the same
// text, or nothing for a row that is not an object with a string "text");
// and, when it is UTF-8, as an event text, which written as the client
// writes it must read back unchanged. A failed check aborts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <simdjson.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::optional<std::string> PlainReading(std::string_view row) {
  try {
    const boost::json::value document = sendara::base::from_string(row);
    const boost::json::object* object = document.if_object();
    const boost::json::value* text = object ? object->if_contains("text") : nullptr;
    if (!text || !text->is_string()) return std::nullopt;
    return std::string(text->get_string());
  } catch (const sendara::base::invalid_json_exception&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static sendara::edr_telemetry::telemetry::StoredValueReader reader;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Check(reader.Text(input) == PlainReading(input));
  if (simdjson::validate_utf8(input.data(), input.size())) {
    const std::string row = R"({"severity":0,"text":)" + boost::json::serialize(boost::json::string_view(input)) + "}";
    Check(reader.Text(row) == std::optional<std::string>(input));
  }
  return 0;
}
