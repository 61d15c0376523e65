#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "component/oru/result_code.h"

namespace platform {

// Reads whole files, refusing ones larger than a limit before reading them.
class FileReader {
 public:
  struct Outcome {
    oru::Result result = oru::rc::NoError;  // FileIsTooBig past the limit
    std::vector<std::uint8_t> bytes;
  };

  static Outcome Read(const std::filesystem::path& path, std::size_t maximumBytes);
};

}  // namespace platform
