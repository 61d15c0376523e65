#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sendara::edr_telemetry::telemetry {

// Reads the event text out of a stored value {"severity":0,"text":"..."}, so
// that draining the spool costs little beyond SQLite's own work: a row in
// exactly the form the client writes is unescaped in one pass; any other
// row goes through simdjson, and through Boost.JSON where simdjson refuses
// it (an escaped lone surrogate, which reads as U+FFFD as everywhere else).
// All three read a row alike. Serves one thread at a time.
class StoredValueReader {
 public:
  StoredValueReader();
  ~StoredValueReader();
  StoredValueReader(const StoredValueReader&) = delete;
  StoredValueReader& operator=(const StoredValueReader&) = delete;

  // Nothing when the row is not such an object: a damaged row. The text is
  // the reader's until the next call.
  std::optional<std::string_view> Text(std::string_view value);

 private:
  struct Parser;
  std::unique_ptr<Parser> m_parser;
};

}  // namespace sendara::edr_telemetry::telemetry
