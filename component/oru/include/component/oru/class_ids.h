#pragma once

#include <cstdint>

namespace oru::class_ids {

// The classes a host asks the module for, through oruCreateObject.
inline constexpr std::uint32_t kSiemTelemetryConsumersManager = 0x9F3C653C;
inline constexpr std::uint32_t kEdrTelemetryTask = 0xD7A2C492;
inline constexpr std::uint32_t kEdrTelemetryClientServiceFactory = 0xFD144E30;

}  // namespace oru::class_ids
