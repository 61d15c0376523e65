#include "host/program/host_options.h"

#include <charconv>
#include <string_view>

namespace reference_host {
namespace {

std::uint64_t Number(std::string_view option, std::string_view text, std::uint64_t maximum) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > maximum) {
    throw HostOptions::Error(std::string(option) + ": not a number up to " + std::to_string(maximum) + ": " +
                             std::string(text));
  }
  return value;
}

}  // namespace

HostOptions HostOptions::Parse(int argc, char** argv) {
  HostOptions options;
  bool events = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      options.help = true;
      return options;
    }
    if (option == "--check") {
      options.check = true;
      continue;
    }
    if (i + 1 >= argc) throw Error(std::string(option) + ": " + (option.starts_with("--") ? "needs a value" : "unknown option"));
    const std::string_view value = argv[++i];
    if (option == "--config") {
      options.config = value;
    } else if (option == "--events") {
      options.events = value;
      events = true;
    } else if (option == "--follow") {
      if (value.empty()) throw Error("--follow: needs a file");
      options.follow = value;
    } else if (option == "--linger") {
      options.linger = static_cast<std::uint32_t>(Number(option, value, 86400));
    } else if (option == "--trace-level") {
      options.traceLevel = static_cast<std::int32_t>(Number(option, value, 1000));
    } else if (option == "--trace-file") {
      options.traceFile = value;
    } else if (option == "--summary-json") {
      options.summaryJson = value;
    } else if (option == "--component") {
      options.component = value;
    } else {
      throw Error(std::string(option) + ": unknown option");
    }
  }
  if (options.config.empty()) throw Error("--config: missing");
  if (events && !options.follow.empty()) throw Error("--follow: not with --events (the input is one or the other)");
  if (options.check && (events || !options.follow.empty())) throw Error("--check: reads no events");
  return options;
}

}  // namespace reference_host
