#pragma once

#include <string_view>

namespace sendara::base {

// The "Content-type" values of the requests the component makes.
struct ContentType {
  static constexpr std::string_view kJson = "application/json; charset=utf-8";
  static constexpr std::string_view kGzip = "application/gzip";
  static constexpr std::string_view kOctetStream = "application/octet-stream";
  // Followed by the boundary of the body.
  static constexpr std::string_view kMultiPartPrefix = "multipart/form-data; boundary=";
};

}  // namespace sendara::base
