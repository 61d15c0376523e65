#include "component/sendara/edr_telemetry/source/client/filtration/match_like.h"

#include <cstddef>

namespace sendara::edr_telemetry::filtration {
namespace {
bool IsEscapable(char c) { return c == '*' || c == '?' || c == '\\'; }
}  // namespace

bool MatchLike(std::string_view text, std::string_view pattern) {
  std::size_t s = 0;
  std::size_t p = 0;
  // The back-tracking point: the latest star and the text position it was
  // last tried at. A stack of every star would hold the same top: a retry
  // either ends the match (the text is used up) or reaches the same star
  // again at once, so the stars below the top are never resumed. One slot
  // keeps the match free of allocations.
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t star = kNone;
  std::size_t tried = 0;

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
      star = p;
      tried = s;
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
      if (star == kNone) return false;
      // Let the latest star swallow one more byte.
      p = star;
      s = tried + 1;
    }
  }
}

}  // namespace sendara::edr_telemetry::filtration
