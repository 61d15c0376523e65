#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/request_sender/gzip_compressor.h"

namespace sendara::base {

// Compresses the body that a later request will most likely carry while the
// current request is on its way, on a thread of its own: a sender that
// waits for each answer would otherwise compress and wait by turns. One body
// at a time; the prepared body is kept whole, so that nothing the caller
// frees or changes afterwards can reach the compression.
class GzipLookahead {
 public:
  explicit GzipLookahead(std::uint32_t level) : m_compressor(level) {}
  // Waits for a compression under way.
  ~GzipLookahead();
  GzipLookahead(const GzipLookahead&) = delete;
  GzipLookahead& operator=(const GzipLookahead&) = delete;

  // Starts on `body`, dropping what was prepared before (after its
  // compression has ended). Raises what starting a thread raises.
  void Start(std::string body);
  // The gzip stream of `body` when it is the prepared body, once its
  // compression has ended; none when another body was prepared, none was,
  // or compressing it failed. Either way nothing stays prepared.
  std::optional<std::string> Take(std::string_view body);

 private:
  void Drop() noexcept;

  // Used only by the compression under way: one at a time.
  GzipCompressor m_compressor;
  std::string m_body;
  std::future<std::string> m_compressed;
};

}  // namespace sendara::base
