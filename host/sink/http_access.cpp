#include "host/sink/http_access.h"

#include <string_view>
#include <utility>

namespace siem_sink {
namespace {

constexpr unsigned kUnauthorized = 401;
constexpr unsigned kNotFound = 404;

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

HttpAccess::HttpAccess(std::string path, std::vector<SinkOptions::HttpHeader> headers)
    : m_path(std::move(path)), m_headers(std::move(headers)) {}

bool HttpAccess::TargetMatches(std::string_view target) const {
  if (m_path.empty()) return true;
  // A path without a query takes any query: clients add their own (a
  // channel, a source) that the sink has no reason to care about.
  if (m_path.find('?') == std::string::npos) target = target.substr(0, target.find('?'));
  return target == m_path;
}

HttpAccess::Verdict HttpAccess::Check(const boost::beast::http::request_header<>& request) {
  Verdict verdict;
  if (!TargetMatches(request.target())) {
    verdict = {kNotFound, "not the path " + m_path};
  } else {
    for (const SinkOptions::HttpHeader& expected : m_headers) {
      // Exactly once: a second copy of, say, an Authorization header is
      // another value, and which one a server would read is anybody's guess.
      std::size_t copies = 0;
      bool matches = false;
      for (auto [field, end] = request.equal_range(expected.name); field != end; ++field) {
        ++copies;
        matches = Trim(field->value()) == expected.value;
      }
      if (copies == 0) {
        verdict = {kUnauthorized, "no " + expected.name + " header"};
      } else if (copies > 1) {
        verdict = {kUnauthorized, expected.name + " header given " + std::to_string(copies) + " times"};
      } else if (!matches) {
        verdict = {kUnauthorized, "not the expected " + expected.name + " value"};
      }
      if (verdict.status != 0) break;
    }
  }
  if (verdict.status != 0) m_refused.fetch_add(1, std::memory_order_relaxed);
  return verdict;
}

}  // namespace siem_sink
