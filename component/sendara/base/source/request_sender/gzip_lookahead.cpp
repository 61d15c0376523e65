#include "component/sendara/base/detail/request_sender/gzip_lookahead.h"

#include <utility>

namespace sendara::base {

GzipLookahead::~GzipLookahead() { Drop(); }

void GzipLookahead::Start(std::string body) {
  Drop();
  m_body = std::move(body);
  m_compressed = std::async(std::launch::async, [this] { return m_compressor.Compress(m_body); });
}

std::optional<std::string> GzipLookahead::Take(std::string_view body) {
  if (!m_compressed.valid() || body != m_body) {
    Drop();
    return std::nullopt;
  }
  std::optional<std::string> compressed;
  try {
    compressed = m_compressed.get();
  } catch (...) {
    // The caller compresses the body itself and meets the failure there.
  }
  m_body.clear();
  return compressed;
}

void GzipLookahead::Drop() noexcept {
  if (m_compressed.valid()) m_compressed.wait();
  m_compressed = {};
  m_body.clear();
}

}  // namespace sendara::base
