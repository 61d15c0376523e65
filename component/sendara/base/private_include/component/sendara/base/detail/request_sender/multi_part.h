#pragma once

#include <optional>
#include <string>

namespace sendara::base {

// One part of a multipart/form-data body: a JSON text, or, with a file name,
// the bytes of a gzip file.
struct MultiPart {
  std::string name;
  std::string content;
  std::optional<std::string> fileName;
};

}  // namespace sendara::base
