#pragma once

#include <string_view>

namespace sendara::base {

// Whether `text` is exactly an address in its standard text form, as strict
// as the socket library's parser on any system: IPv4 in four dotted decimal
// parts without leading zeros; IPv6 in hexadecimal groups with at most one
// "::" and an optional dotted IPv4 tail, without a zone ("%eth0"), brackets
// or blanks. Names are not addresses.
bool IsIpv4AddressText(std::string_view text) noexcept;
bool IsIpv6AddressText(std::string_view text) noexcept;

}  // namespace sendara::base
