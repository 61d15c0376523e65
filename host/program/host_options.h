#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace reference_host {

// The host program's command line.
struct HostOptions {
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  static constexpr const char* kUsage =
      "usage: edr-telemetry-host --config FILE [--events FILE|- | --follow FILE] [--linger SECONDS]\n"
      "                          [--trace-level N] [--trace-file FILE] [--summary-json FILE]\n"
      "                          [--component PATH]\n"
      "       edr-telemetry-host --config FILE --check [--component PATH] [--trace-level N] [--trace-file FILE]\n"
      "Loads the telemetry component, gives its task the configuration, hands it the events\n"
      "(NDJSON, one per line; standard input by default), waits, stops and prints a summary.\n"
      "--follow reads a file that grows, across rotations, until SIGTERM or SIGINT, and goes on\n"
      "where it stopped after a restart (the place is kept in the data folder).\n"
      "--check validates the configuration (with the component), reads every file it names, resolves\n"
      "every endpoint and prints what would be sent where; it sends nothing and opens no spool.\n"
      "Exit codes: 0 done, 2 bad configuration or input file, 3 the component failed to load or start,\n"
      "4 events were lost, 5 nothing was delivered and events wait in the spool.\n";

  // Raises Error naming the option for anything it cannot take.
  static HostOptions Parse(int argc, char** argv);

  bool help = false;
  // Validate and tell the plan; send nothing.
  bool check = false;
  std::filesystem::path config;
  // "-" for standard input.
  std::string events = "-";
  // Followed instead of reading `events` once; empty for none.
  std::filesystem::path follow;
  // Seconds; absent for twice the transfer time plus one.
  std::optional<std::uint32_t> linger;
  // Nothing is traced at 0.
  std::int32_t traceLevel = 0;
  std::filesystem::path traceFile;
  std::filesystem::path summaryJson;
  std::filesystem::path component;
};

}  // namespace reference_host
