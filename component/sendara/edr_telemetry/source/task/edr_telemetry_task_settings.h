#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h"

namespace sendara::edr_telemetry::task {

// One destination as the host configures it.
struct EdrTelemetryTaskEndpoint {
  std::string host;
  std::int32_t port = 0;
  // 0 TCP, 1 TCP with TLS, 2 HTTP with gzip, 3 UDP; anything else HTTP.
  std::uint32_t protocol = 0;
  // HTTP only: the request's path after the port ("/ingest", a query may
  // follow); empty for the server's root. Last, so that a host's
  // {host, port, protocol} stays as it was; its initializer keeps such a
  // host free of -Wmissing-field-initializers.
  std::string path = {};
};

// The task's settings as the host hands them over.
struct EdrTelemetryTaskSettings {
  std::vector<EdrTelemetryTaskEndpoint> endpoints;
  // PEM text of the certificates trusted for the server.
  std::vector<std::uint8_t> serverCertificates;
  std::uint64_t validTlsErrors = 0;
  bool validTlsErrorsPresent = false;
  // The client certificate: a PKCS#12 container and its password in the
  // form the host's decryptor reads.
  std::vector<std::uint8_t> encryptedCertificatePassword;
  std::vector<std::uint8_t> clientCertificate;
  bool clientCertificatePresent = false;
  // Resolved to a path by the host's data-folder service.
  std::uint32_t dataFolderId = 0;
  // MiB.
  std::uint32_t persistentTelemetryPartSize = 25;
  std::uint32_t persistentTelemetryPartCount = 40;
  std::uint32_t persistentTelemetryPartRemoveCount = 4;
  // Milliseconds.
  std::uint32_t timeoutConnection = 500;
  std::uint32_t timeoutRequest = 500;
  // Seconds.
  std::uint32_t maximumDataTransferTime = 30;
  std::int32_t maximumNumberOfEventsInPackage = 1024;
  std::uint32_t minPacketsInFallbackSendIteration = 2;
  std::uint32_t maxPacketsInFallbackSendIteration = 1024;
  bool onlyTaggedEvents = false;
  bool useRequestCountLimits = true;
  std::int32_t maximumNumberOfEventsInHour = 3000;
  std::int32_t eventLimitExceededPercentage = 15;
  // JSON text: {"inclusiveRules": [...]}.
  std::u16string includeRules;
  // A rules document as JSON text, then gzip-compressed rules documents.
  std::u16string exclusionRulesText;
  std::vector<std::vector<std::uint8_t>> exclusionRules;
  std::vector<EventTypeSetting> userDefinedEventTypes;
  bool disableIfNotInEventTypes = false;
  bool tunnelPresent = false;
  // An IPv4 or IPv6 address; port 0 for the default proxy port.
  std::string tunnelAddress;
  std::uint32_t tunnelPort = 0;
  // The task's consumer id; its low 16 bits are the integration id.
  std::uint64_t consumerId = 0;
  // Start sending only once the host's response server of the integration
  // has started.
  bool startAfterResponseServer = false;
  bool allowedListsPresent = false;
  std::vector<std::u16string> allowedEventTypes;
  std::vector<std::string> allowedEventFields;
  std::uint32_t gzipCompressionLevel = 5;
};

}  // namespace sendara::edr_telemetry::task
