#include "component/sendara/edr_telemetry/source/client/filtration/match_like.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace sendara::edr_telemetry::filtration {
namespace {
bool IsEscapable(char c) { return c == '*' || c == '?' || c == '\\'; }
}  // namespace

bool MatchLike(std::string_view text, std::string_view pattern) {
  std::size_t s = 0;
  std::size_t p = 0;
  // Back-tracking points: (position of a star in the pattern, text position
  // it was tried at).
  std::vector<std::pair<std::size_t, std::size_t>> stars;

  for (;;) {
    if (s == text.size()) {
      while (p < pattern.size() && pattern[p] == '*') ++p;
      return p == pattern.size();
    }

    bool mismatch = false;
    if (p == pattern.size()) {
      mismatch = true;  // text left over
    } else if (pattern[p] == '\\' && p + 1 < pattern.size() && IsEscapable(pattern[p + 1])) {
      if (pattern[p + 1] == text[s]) {
        ++s;
        p += 2;
      } else {
        mismatch = true;
      }
    } else if (pattern[p] == '*') {
      stars.emplace_back(p, s);
      while (p < pattern.size() && pattern[p] == '*') ++p;
      if (p == pattern.size()) return true;
      continue;  // the star first matches nothing
    } else if (pattern[p] == '?' || pattern[p] == text[s]) {
      ++s;
      ++p;
    } else {
      mismatch = true;
    }

    if (mismatch) {
      if (stars.empty()) return false;
      // Let the latest star swallow one more byte; it is pushed again when
      // the retry reaches it.
      const auto [star, tried] = stars.back();
      stars.pop_back();
      p = star;
      s = tried + 1;
    }
  }
}

}  // namespace sendara::edr_telemetry::filtration
