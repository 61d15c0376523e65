#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/storages/base_iterator.h"

namespace sendara::base::storages {

// An ordered list of text values in one database file.
class IValueStorage {
 public:
  struct Line {
    std::int64_t id = 0;
    std::string value;
  };
  using Iterator = BaseIterator<Line>;

  virtual ~IValueStorage() = default;
  virtual void Clear() = 0;
  virtual std::uint64_t Count() = 0;
  virtual std::uint64_t GetSize() = 0;
  // Over the rows that exist now, in id order; rows inserted later are not
  // visited, and deleting rows already visited does not disturb it.
  virtual Iterator CreateIterator() = 0;
  // All values or none.
  virtual void Insert(std::span<const std::string> values) = 0;
  virtual std::int64_t Insert(std::string_view value) = 0;
  virtual void DeleteById(std::int64_t id) = 0;
  virtual void DeleteByIds(std::span<const std::int64_t> ids) = 0;
  virtual std::optional<Line> GetFront() = 0;
  virtual std::optional<Line> GetBack() = 0;

  // Range loops: positioned on the first row.
  Iterator begin() {
    Iterator it = CreateIterator();
    it.Next();
    return it;
  }
  Iterator end() { return {}; }
};

}  // namespace sendara::base::storages
