#pragma once

#include <cstdint>
#include <vector>

#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"

namespace sendara::base::storages {

// Ids from `first` to `last`, both included.
struct IdRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

// Prepares a newly opened database: settings and tables. Knowing the
// tables, it also knows what of a damaged file is worth carrying over.
class ISqliteScheme {
 public:
  virtual ~ISqliteScheme() = default;
  virtual void ApplyScheme(const SqliteHandle& handle) = 0;
  // Copies every row of `damaged` that can still be read into `fresh` (a
  // database prepared by ApplyScheme), under the same ids, and returns the
  // ranges of ids that could not be read. Raises when nothing can be
  // carried over.
  virtual std::vector<IdRange> CopyReadableRows(const SqliteHandle& damaged, const SqliteHandle& fresh) = 0;
};

}  // namespace sendara::base::storages
