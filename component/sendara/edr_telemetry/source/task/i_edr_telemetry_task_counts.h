#pragma once

#include "component/oru/i_object.h"
#include "component/sendara/edr_telemetry/source/task/edr_telemetry_delivery_counts.h"

namespace sendara::edr_telemetry::task {

// The task's account of the events it was handed, for a host that reports
// what was delivered and what was lost. Final once Stop has returned on a
// thread that is not one of the client's own (a connection sink's).
class IEdrTelemetryTaskCounts : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x3D9A61B7;

  virtual oru::Result GetDeliveryCounts(EdrTelemetryDeliveryCounts* counts) noexcept = 0;

 protected:
  ~IEdrTelemetryTaskCounts() = default;
};

}  // namespace sendara::edr_telemetry::task
