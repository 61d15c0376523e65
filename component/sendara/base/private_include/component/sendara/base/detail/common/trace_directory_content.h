#pragma once

#include <filesystem>

#include <boost/json/array.hpp>

namespace sendara::base {

// The listing of a folder for traces.
class TraceDirectoryContent {
 public:
  // One object per entry: "path", "type" ("folder" or "file") and, for
  // files, "size". A folder that cannot be listed raises tools_exception
  // "dir enumeration failed" with the property "path".
  static boost::json::array GetDirectoryContent(const std::filesystem::path& path);
};

}  // namespace sendara::base
