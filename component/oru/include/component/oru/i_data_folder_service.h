#pragma once

#include <cstdint>
#include <string>

#include "component/oru/i_object.h"
#include "component/oru/service_ids.h"

namespace oru {

// Host service: where the host keeps the data of a folder id.
class IDataFolderService : public IObject {
 public:
  static constexpr InterfaceId kIid = service_ids::kDataFolder;

  virtual Result GetDataFolderPath(std::uint32_t folderId, std::u16string& path) noexcept = 0;

 protected:
  ~IDataFolderService() = default;
};

}  // namespace oru
