#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

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
  std::uint64_t leftInSpool = 0;
  // Follow mode: truncations of the file whose unread end no copy held.
  std::uint64_t unrecoveredTruncations = 0;

  // The name of a connection-error reason as a host sink receives it.
  static std::string ReasonName(std::uint32_t hostReason);
  // The rows in the spool files under `dataFolder`; files it cannot read
  // count nothing.
  static std::uint64_t CountSpooled(const std::filesystem::path& dataFolder);

  void Print(std::ostream& out) const;
  // Raises std::runtime_error when the file cannot be written.
  void WriteJson(const std::filesystem::path& file) const;
};

}  // namespace reference_host
