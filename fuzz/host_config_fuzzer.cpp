// Writes the input as the host program's configuration file and loads it.
// The reader takes a file (relative paths in it are taken from the file's
// folder), so the file is written once per input, into a folder that also
// holds the files a configuration names: "ca.pem", "client.p12" and
// "rules.json.gz". Nothing may crash, trip a sanitizer or hang; a
// configuration is refused with HostConfiguration::Error, and one that loads
// keeps the promises of Load.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "host/program/host_configuration.h"
#include "temp_directory.h"

namespace {

namespace fs = std::filesystem;
using reference_host::HostConfiguration;

void Write(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) __builtin_trap();
}

struct Folder {
  Folder() {
    Write(folder.Path() / "ca.pem", "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
    Write(folder.Path() / "client.p12", std::string_view("\x30\x03\x02\x01\x03", 5));
    Write(folder.Path() / "rules.json.gz", std::string_view("\x1f\x8b\x08\x00", 4));
  }

  TempDirectory folder;
  const fs::path config = folder.Path() / "config.json";
};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Folder folder;
  Write(folder.config, std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    const HostConfiguration configuration = HostConfiguration::Load(folder.config);
    const auto& settings = configuration.taskSettings;
    Check(!settings.endpoints.empty());
    for (const auto& endpoint : settings.endpoints) {
      Check(!endpoint.host.empty() && endpoint.port >= 1 && endpoint.port <= 65535);
    }
    Check(settings.persistentTelemetryPartSize != 0 && settings.persistentTelemetryPartCount != 0 &&
          settings.persistentTelemetryPartRemoveCount != 0);
    Check(settings.timeoutConnection != 0 && settings.timeoutRequest != 0 && settings.maximumDataTransferTime != 0);
    Check(settings.maximumNumberOfEventsInPackage >= 1);
    Check((settings.consumerId & 0xFFFF) != 0);
    Check(settings.gzipCompressionLevel == 0 || settings.gzipCompressionLevel == 5 ||
          settings.gzipCompressionLevel == 9);
    Check(!settings.tunnelPresent || !settings.tunnelAddress.empty());
  } catch (const HostConfiguration::Error&) {
    // Refused, naming the key: what the program reports before it starts.
  }
  return 0;
}
