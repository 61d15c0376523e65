#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace sendara::base::storages {

// Where a stored row lives: its partition and its row id there.
struct PartitionedId {
  std::uint64_t partitionId = 0;
  std::int64_t id = 0;

  friend auto operator<=>(const PartitionedId&, const PartitionedId&) = default;
};

struct PartitionedRow {
  PartitionedId id;
  std::string value;
};

}  // namespace sendara::base::storages
