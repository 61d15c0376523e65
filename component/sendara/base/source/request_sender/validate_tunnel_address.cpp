#include "component/sendara/base/detail/request_sender/validate_tunnel_address.h"

#include <cstdint>
#include <string>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/ip_address_text.h"

namespace sendara::base {
namespace {

bool IsPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t port = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return port >= 1 && port <= 65535;
}

bool IsValidTunnel(std::string_view tunnel) {
  if (tunnel.starts_with('[')) {
    const auto close = tunnel.find("]:");
    return close != std::string_view::npos && IsIpv6AddressText(tunnel.substr(1, close - 1)) &&
           IsPort(tunnel.substr(close + 2));
  }
  if (IsIpv4AddressText(tunnel) || IsIpv6AddressText(tunnel)) return true;
  // With a port, an IPv6 address needs the brackets: only IPv4 remains.
  const auto colon = tunnel.rfind(':');
  return colon != std::string_view::npos && IsIpv4AddressText(tunnel.substr(0, colon)) &&
         IsPort(tunnel.substr(colon + 1));
}

}  // namespace

void ValidateTunnelAddress(std::string_view tunnel) {
  if (IsValidTunnel(tunnel)) return;
  contract_exception exception(oru::rc::InvalidArgument, "Invalid format of ip address", __FILE__, __LINE__);
  exception.SetProperty("tunnel", std::string(tunnel));
  ThrowNested(std::move(exception));
}

}  // namespace sendara::base
