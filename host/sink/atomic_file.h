#pragma once

#include <string>
#include <string_view>

namespace siem_sink {

// A file that readers see either whole or not at all: a script polling for
// the ready file never reads half of it.
class AtomicFile {
 public:
  // Writes `content` to a temporary file next to `path`, then renames it to
  // `path`. Throws std::system_error naming the file when either fails.
  static void Write(const std::string& path, std::string_view content);
};

}  // namespace siem_sink
