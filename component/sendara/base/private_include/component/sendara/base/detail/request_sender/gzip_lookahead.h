#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <optional>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/request_sender/gzip_compressor.h"

namespace sendara::base {

// Compresses the bodies that later requests will most likely carry while
// the current request is on its way, on threads of their own: a sender that
// waits for each answer would otherwise compress and wait by turns. A sender
// that prepares the package after the one it is about to send has two
// prepared at a time (the one about to go and the next), so two are kept;
// they are compressed one after the other. Each prepared body is kept
// whole, so that nothing the caller frees or changes can reach a
// compression.
class GzipLookahead {
 public:
  static constexpr std::size_t kPrepared = 2;

  explicit GzipLookahead(std::uint32_t level) : m_compressor(level) {}
  // Waits for the compressions under way.
  ~GzipLookahead();
  GzipLookahead(const GzipLookahead&) = delete;
  GzipLookahead& operator=(const GzipLookahead&) = delete;

  // Starts on `body` after the bodies prepared before, dropping the oldest
  // (once its compression has ended) when kPrepared are held. Raises what
  // starting a thread raises.
  void Start(std::string body);
  // The gzip stream of `body` when it is a prepared body, once its
  // compression has ended; the bodies prepared before it are dropped. None
  // when no prepared body is `body` (the others stay) or when compressing it
  // failed.
  std::optional<std::string> Take(std::string_view body);

 private:
  struct Prepared {
    std::string body;
    std::shared_future<std::string> compressed;
  };
  void DropOldest() noexcept;

  // Used by one compression at a time: each waits for the one before.
  GzipCompressor m_compressor;
  // Oldest first. A deque: a compression holds its body by reference, which
  // adding and dropping other entries leaves in place.
  std::deque<Prepared> m_prepared;
};

}  // namespace sendara::base
