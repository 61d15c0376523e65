#include "component/sendara/base/detail/request_sender/gzip_lookahead.h"

#include <utility>

namespace sendara::base {

GzipLookahead::~GzipLookahead() {
  while (!m_prepared.empty()) DropOldest();
}

void GzipLookahead::Start(std::string body) {
  while (m_prepared.size() >= kPrepared) DropOldest();
  std::shared_future<std::string> before;
  if (!m_prepared.empty()) before = m_prepared.back().compressed;
  Prepared& prepared = m_prepared.emplace_back();
  prepared.body = std::move(body);
  try {
    prepared.compressed = std::async(std::launch::async, [this, text = &prepared.body, before] {
                            if (before.valid()) before.wait();
                            return m_compressor.Compress(*text);
                          }).share();
  } catch (...) {
    m_prepared.pop_back();
    throw;
  }
}

std::optional<std::string> GzipLookahead::Take(std::string_view body) {
  std::size_t match = 0;
  while (match < m_prepared.size() && m_prepared[match].body != body) ++match;
  if (match == m_prepared.size()) return std::nullopt;
  while (match-- > 0) DropOldest();
  std::optional<std::string> compressed;
  try {
    compressed = m_prepared.front().compressed.get();
  } catch (...) {
    // The caller compresses the body itself and meets the failure there.
  }
  m_prepared.pop_front();
  return compressed;
}

void GzipLookahead::DropOldest() noexcept {
  m_prepared.front().compressed.wait();
  m_prepared.pop_front();
}

}  // namespace sendara::base
