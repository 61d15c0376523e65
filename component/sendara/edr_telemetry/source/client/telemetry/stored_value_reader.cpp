#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"

#include <boost/json/value.hpp>
#include <simdjson.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/serializers/from_string.h"

namespace sendara::edr_telemetry::telemetry {

struct StoredValueReader::Parser {
  simdjson::dom::parser parser;
  // The row, followed by the padding simdjson reads past its end.
  std::string padded;
};

StoredValueReader::StoredValueReader() : m_parser(std::make_unique<Parser>()) {}
StoredValueReader::~StoredValueReader() = default;

std::optional<std::string> StoredValueReader::Text(std::string_view value) {
  std::string& padded = m_parser->padded;
  padded.assign(value);
  padded.append(simdjson::SIMDJSON_PADDING, '\0');
  simdjson::dom::element root;
  if (!m_parser->parser.parse(padded.data(), value.size(), false).get(root)) {
    simdjson::dom::object object;
    if (root.get_object().get(object)) return std::nullopt;
    // The last of equal names counts, as Boost.JSON keeps it.
    std::optional<simdjson::dom::element> text;
    for (const simdjson::dom::key_value_pair member : object) {
      if (member.key == "text") text = member.value;
    }
    std::string_view chars;
    if (!text || text->get_string().get(chars)) return std::nullopt;
    return std::string(chars);
  }
  try {
    const boost::json::value document = base::from_string(value);
    const boost::json::object* object = document.if_object();
    const boost::json::value* text = object ? object->if_contains("text") : nullptr;
    if (!text || !text->is_string()) return std::nullopt;
    return std::string(text->get_string());
  } catch (const base::invalid_json_exception&) {
    return std::nullopt;
  }
}

}  // namespace sendara::edr_telemetry::telemetry
