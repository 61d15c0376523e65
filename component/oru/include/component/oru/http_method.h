#pragma once

#include <cstdint>

namespace oru {

enum class HttpMethod : std::uint32_t { kGet = 0, kPost = 1 };

}  // namespace oru
