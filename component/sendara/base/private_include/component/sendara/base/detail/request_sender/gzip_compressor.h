#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct libdeflate_compressor;

namespace sendara::base {

// Writes request bodies as gzip streams at one level. Made once and kept: a
// compressor is a large allocation whose pages would be mapped and cleared
// for every package. Not for two threads at once.
class GzipCompressor {
 public:
  // `level` from 0 to 9.
  explicit GzipCompressor(std::uint32_t level);

  // Raises std::bad_alloc, or tools_exception "can't compress request" when
  // the library itself fails.
  std::string Compress(std::string_view body);

 private:
  struct Deleter {
    void operator()(libdeflate_compressor* compressor) const noexcept;
  };
  const std::uint32_t m_level;
  std::unique_ptr<libdeflate_compressor, Deleter> m_compressor;
};

}  // namespace sendara::base
