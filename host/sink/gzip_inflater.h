#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace siem_sink {

// Inflates a gzip body (RFC 1952), members one after another as gzip
// itself writes them when appending, with a bound on what it may grow to.
class GzipInflater {
 public:
  enum class Result { kInflated, kInvalid, kTooLarge };

  // On kInflated `out` holds the inflated bytes; on anything else its
  // content is unspecified.
  static Result Inflate(std::string_view compressed, std::size_t maxInflatedBytes, std::string& out);
};

}  // namespace siem_sink
