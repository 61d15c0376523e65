#include "component/sendara/base/detail/common/ip_address_text.h"

#include <cstddef>

namespace sendara::base {
namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) noexcept { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

bool IsIpv4AddressText(std::string_view text) noexcept {
  int parts = 0;
  std::size_t at = 0;
  while (true) {
    const std::size_t start = at;
    unsigned value = 0;
    while (at < text.size() && IsDigit(text[at]) && at - start < 3) value = value * 10 + (text[at++] - '0');
    const std::size_t digits = at - start;
    // "01" would read as octal to some parsers: no part starts with a zero.
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    if (++parts == 4) return at == text.size();
    if (at == text.size() || text[at] != '.') return false;
    ++at;
  }
}

bool IsIpv6AddressText(std::string_view text) noexcept {
  // Sixteen bytes: eight groups, or six and an IPv4 tail; "::" stands for at
  // least one group of zeros.
  int groups = 0;
  bool elided = false;
  std::size_t at = 0;
  if (text.starts_with("::")) {
    elided = true;
    at = 2;
    if (at == text.size()) return true;
  } else if (text.starts_with(':')) {
    return false;
  }
  while (true) {
    const std::size_t start = at;
    while (at < text.size() && IsHexDigit(text[at]) && at - start < 5) ++at;
    if (at < text.size() && text[at] == '.') {
      // A dotted tail ends the address and counts two groups.
      if (!IsIpv4AddressText(text.substr(start))) return false;
      groups += 2;
      break;
    }
    const std::size_t digits = at - start;
    if (digits == 0 || digits > 4) return false;
    ++groups;
    if (at == text.size()) break;
    if (text[at] != ':') return false;
    ++at;
    if (at < text.size() && text[at] == ':') {
      if (elided) return false;
      elided = true;
      ++at;
      if (at == text.size()) break;
    } else if (at == text.size()) {
      return false;  // a lone trailing ':'
    }
    if (groups > 8) return false;
  }
  return elided ? groups <= 7 : groups == 8;
}

}  // namespace sendara::base
