#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"

#include "component/oru/result_code.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"

namespace sendara::edr_telemetry {

// The checks stay in this one function so that every failure names it.
void ValidateSettings(const EdrTelemetryClientSettings& settings,
                      const EdrTelemetryClientSettings* previous) {
  SENDARA_CONTRACT(settings.timeoutConnection != 0, "timeoutConnection should be non zero");
  SENDARA_CONTRACT(settings.timeoutRequest != 0, "timeoutRequest should be non zero");
  SENDARA_CONTRACT(!settings.endpoints.empty(), "should specify at least one endpoint");

  // The storage is opened once, under the first path; moving it while the
  // client runs would strand the events already stored.
  if (previous && previous->persistentDataPath != settings.persistentDataPath) {
    // The check helper raises the exception nested; it is caught only to
    // name both paths on it, and travels on unchanged.
    try {
      base::ThrowCheckFailed<base::contract_exception>(
          oru::rc::InvalidArgument, SENDARA_FUNCTION_NAME, __FILE__, __LINE__,
          "change persistent storage path not supported");
    } catch (base::contract_exception& e) {
      e.SetProperty("oldPath", base::ToUtf8(previous->persistentDataPath));
      e.SetProperty("newPath", base::ToUtf8(settings.persistentDataPath));
      throw;
    }
  }

  const TelemetryTransferSettings& transfer = settings.telemetryTransferSettings;
  SENDARA_CONTRACT(transfer.maximumDataTransferTime != 0,
                   "telemetry maximumDataTransferTime should be non zero");
  // A negative size is refused with the same text: the sending loop takes the
  // size as an unsigned count, where -1 would be a package of four billion events.
  SENDARA_CONTRACT(transfer.maximumNumberOfEventsInPackage > 0,
                   "telemetry maximumNumberOfEventsInPackage should be non zero");
}

}  // namespace sendara::edr_telemetry
