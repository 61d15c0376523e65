#pragma once

#include <cstdint>
#include <string_view>

namespace sendara::base {

// The reason phrase of a registered HTTP status code ("Not Found" for 404);
// "Unknown" for any other code.
std::string_view HttpStatusText(std::uint16_t status) noexcept;

}  // namespace sendara::base
