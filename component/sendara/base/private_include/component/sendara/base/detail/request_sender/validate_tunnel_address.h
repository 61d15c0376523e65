#pragma once

#include <string_view>

namespace sendara::base {

// Accepts exactly "a.b.c.d:port", "[v6]:port" and a bare IPv4 or IPv6
// address (no brackets; the client then uses the default proxy port), with
// a decimal port from 1 to 65535. Anything else raises contract_exception
// (InvalidArgument) "Invalid format of ip address", the text under "tunnel".
void ValidateTunnelAddress(std::string_view tunnel);

}  // namespace sendara::base
