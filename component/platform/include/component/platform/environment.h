#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> GetEnvironmentVariable(const std::string& name);

}  // namespace platform
