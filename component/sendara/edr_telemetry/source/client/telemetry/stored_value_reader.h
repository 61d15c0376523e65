#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sendara::edr_telemetry::telemetry {

// Reads the event text out of a stored value {"severity":0,"text":"..."}:
// with simdjson, several times faster than Boost.JSON on event rows, so that
// draining the spool costs little beyond SQLite's own work; with Boost.JSON
// where simdjson refuses a row (an escaped lone surrogate, which reads as
// U+FFFD as everywhere else). Serves one thread at a time.
class StoredValueReader {
 public:
  StoredValueReader();
  ~StoredValueReader();
  StoredValueReader(const StoredValueReader&) = delete;
  StoredValueReader& operator=(const StoredValueReader&) = delete;

  // Nothing when the row is not such an object: a damaged row.
  std::optional<std::string> Text(std::string_view value);

 private:
  struct Parser;
  std::unique_ptr<Parser> m_parser;
};

}  // namespace sendara::edr_telemetry::telemetry
