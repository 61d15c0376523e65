#pragma once

#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"

namespace sendara::base::storages {

// Prepares a newly opened database: settings and tables.
class ISqliteScheme {
 public:
  virtual ~ISqliteScheme() = default;
  virtual void ApplyScheme(const SqliteHandle& handle) = 0;
};

}  // namespace sendara::base::storages
