#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "component/sendara/edr_telemetry/source/task/edr_telemetry_delivery_counts.h"

namespace reference_host {

// What one run of the host program did.
struct RunSummary {
  std::uint64_t linesRead = 0;
  std::uint64_t malformed = 0;
  std::uint64_t dropped = 0;
  std::uint64_t handedOver = 0;
  std::uint64_t connected = 0;
  // Reason name as the host hears it: count.
  std::map<std::string, std::uint64_t> connectionErrors;
  // Events in the spool when the run began: they are the run's to deliver too.
  std::uint64_t inSpoolAtStart = 0;
  // What became of them, as the task tells it.
  sendara::edr_telemetry::task::EdrTelemetryDeliveryCounts delivery;
  std::uint64_t leftInSpool = 0;
  // Follow mode: truncations of the file whose unread end no copy held.
  std::uint64_t unrecoveredTruncations = 0;

  // The name of a connection-error reason as a host sink receives it.
  static std::string ReasonName(std::uint32_t hostReason);
  // The rows in the spool files under `dataFolder`; files it cannot read
  // count nothing.
  static std::uint64_t CountSpooled(const std::filesystem::path& dataFolder);

  // What the run had to deliver (its input and the spool it found) less
  // what became of it: 0 when the account adds up.
  std::int64_t Unaccounted() const;

  void Print(std::ostream& out) const;
  // Raises std::runtime_error when the file cannot be written.
  void WriteJson(const std::filesystem::path& file) const;
};

}  // namespace reference_host
