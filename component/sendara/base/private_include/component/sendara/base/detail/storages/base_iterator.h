#pragma once

#include <memory>
#include <utility>

#include "component/oru/result_code.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"

namespace sendara::base::storages {

// What an iterator walks: positioned before the first row until the first
// Next.
template <class Row>
class IRowCursor {
 public:
  virtual ~IRowCursor() = default;
  // Moves to the next row; false when there is none.
  virtual bool Next() = 0;
  virtual const Row& Current() const = 0;
  // Exchanges the current row with `row`, so that the row is taken without
  // a copy and the cursor reads the next one into the buffers it got back.
  // No row is current until the next Next.
  virtual void SwapCurrent(Row& row) = 0;
};

// An iterator over stored rows. An empty iterator is the end; an iterator
// that runs out becomes empty and lets go of what its cursor held (a
// database handle, a partition). Also usable in range loops.
template <class Row>
class BaseIterator {
 public:
  BaseIterator() = default;
  explicit BaseIterator(std::unique_ptr<IRowCursor<Row>> cursor) : m_cursor(std::move(cursor)) {}

  bool Next() {
    if (!m_cursor) return false;
    if (m_cursor->Next()) return true;
    m_cursor.reset();
    return false;
  }

  // Raises internal_exception "invalid state" when there is no row.
  const Row& Current() const {
    SENDARA_CHECK(m_cursor != nullptr, internal_exception, oru::rc::InvalidState, "invalid state");
    return m_cursor->Current();
  }

  // As IRowCursor::SwapCurrent; raises as Current when there is no row.
  void SwapCurrent(Row& row) {
    SENDARA_CHECK(m_cursor != nullptr, internal_exception, oru::rc::InvalidState, "invalid state");
    m_cursor->SwapCurrent(row);
  }

  bool IsEnd() const noexcept { return m_cursor == nullptr; }

  const Row& operator*() const { return Current(); }
  BaseIterator& operator++() {
    Next();
    return *this;
  }
  // Only the ends compare equal: enough for range loops.
  friend bool operator==(const BaseIterator& a, const BaseIterator& b) noexcept { return a.IsEnd() && b.IsEnd(); }

 private:
  std::unique_ptr<IRowCursor<Row>> m_cursor;
};

}  // namespace sendara::base::storages
