#pragma once

#include <cstdint>
#include <span>

#include "component/oru/class_ids.h"
#include "component/oru/i_object.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"

namespace oru {

// The classes the module creates for its host, by class id.
class ClassTable {
 public:
  using ClassId = std::uint32_t;
  // Returns a new object with a reference count of 1; may throw.
  using Creator = RefPtr<IObject> (*)(IServiceLocator* locator);

  struct Row {
    ClassId classId;
    Creator creator;  // null until the class is part of the module
  };

  static constexpr ClassId kSiemTelemetryConsumersManager = class_ids::kSiemTelemetryConsumersManager;
  static constexpr ClassId kEdrTelemetryTask = class_ids::kEdrTelemetryTask;
  static constexpr ClassId kEdrTelemetryClientServiceFactory = class_ids::kEdrTelemetryClientServiceFactory;

  static std::span<const Row> Rows() noexcept;

  // The work of oruCreateObject: InvalidArgument for a null `object` (nothing
  // written), ClassNotFound for an id without a creator, the construction
  // failure's code (traced) when the creator throws. `*object` is written
  // only on success.
  static Result CreateObject(ClassId classId, IServiceLocator* locator, IObject** object) noexcept;

  // The work of oruCanUnloadModule: 0 when no object of the module is alive
  // and no thread it started is left.
  static std::int32_t CanUnloadModule() noexcept;
};

}  // namespace oru
