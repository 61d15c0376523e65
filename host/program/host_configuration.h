#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/oru/http_header.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task_settings.h"

namespace reference_host {

// The host program's configuration file: the task's settings, the
// producer's default event types and what the host itself decides (the
// data folder, whether event texts may be traced). Every key is checked
// before anything starts.
class HostConfiguration {
 public:
  // Names the key or file and says what is wrong with it.
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // The data folder's id in the host's data-folder service.
  static constexpr std::uint32_t kDataFolderId = 1;

  // Raises Error for an unreadable file, text that is not a JSON object, an
  // unknown key, a value of the wrong type or out of range, or a file named
  // by a key that cannot be read. Relative paths are taken from the
  // configuration file's folder.
  static HostConfiguration Load(const std::filesystem::path& file);

  // Every key Load takes, in the form the configuration reference names
  // them: "timeoutRequest", "clientCertificate.password", "endpoints[].url".
  static std::vector<std::string> Keys();

  // The URL the component posts to for an HTTP endpoint: its host (with its
  // scheme, https when none is given), the port and the path.
  static std::string PostedUrl(const sendara::edr_telemetry::task::EdrTelemetryTaskEndpoint& endpoint);

  // Request headers of one HTTP endpoint, sent with every request to `url`
  // (the URL the component posts to). The values are secrets.
  struct EndpointHeaders {
    std::string url;
    std::vector<oru::HttpHeader> headers;
  };

  sendara::edr_telemetry::task::EdrTelemetryTaskSettings taskSettings;
  std::vector<sendara::edr_telemetry::EventTypeSetting> defaultEventTypes;
  std::filesystem::path dataFolder;
  bool traceSensitiveData = false;
  // CA certificates (files or folders of PEM files) trusted for HTTPS next
  // to the system's.
  std::vector<std::filesystem::path> httpsCaCertificates;
  std::vector<EndpointHeaders> endpointHeaders;
  // What the operator is told at start: settings taken, but not as they may
  // expect.
  std::vector<std::string> notices;
};

}  // namespace reference_host
