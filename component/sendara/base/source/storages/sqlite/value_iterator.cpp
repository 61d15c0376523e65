#include "component/sendara/base/detail/storages/sqlite/value_iterator.h"

#include <sqlite3.h>

#include <utility>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/kept_statement.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_blocking_call.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

namespace sendara::base::storages {
namespace {
constexpr const char* kIteratorQuery = "SELECT * FROM value_storage WHERE id BETWEEN ? AND ?;";

// SQLITE_OK with the row in `row`, or why it cannot be read.
int ReadRow(sqlite3_stmt* statement, IValueStorage::Line& row) {
  row.id = sqlite3_column_int64(statement, 0);
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
  if (!text) {
    // NULL is a value that is no text; otherwise the library says why.
    if (sqlite3_column_type(statement, 1) != SQLITE_NULL) {
      const int rc = sqlite3_errcode(sqlite3_db_handle(statement));
      return rc == SQLITE_OK || rc == SQLITE_ROW ? SQLITE_NOMEM : rc;
    }
    row.value.clear();
    return SQLITE_OK;
  }
  row.value.assign(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)));
  return SQLITE_OK;
}
}  // namespace

ValueIterator::ValueIterator(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<SqliteConnection> connection,
                             std::int64_t firstId, std::int64_t lastId)
    : m_tracer(std::move(tracer)),
      m_connection(std::move(connection)),
      m_generation(m_connection->Generation()),
      m_nextId(firstId),
      m_lastId(lastId),
      m_exhausted(firstId > lastId) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "query = " << kIteratorQuery);
}

bool ValueIterator::Next() {
  m_onRow = false;
  if (m_taken == m_filled) {
    Refill();
    if (m_filled == 0) return false;
  }
  std::swap(m_current, m_batch[m_taken++]);
  m_onRow = true;
  return true;
}

void ValueIterator::Refill() {
  m_filled = m_taken = 0;
  bool repaired = false;
  while (!m_exhausted) {
    if (m_connection->Generation() != m_generation) {
      m_generation = m_connection->Generation();
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "database was repaired, iteration goes on from id " << m_nextId);
    }
    const int rc = ReadBatch();
    if (rc == SQLITE_OK) return;
    // A damaged page ends nothing: what can still be read is carried over
    // into a rebuilt file, once, and the walk goes on there.
    if (!IsCorruptResult(rc) || repaired) SENDARA_SQLITE_CHECK(rc);
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "database damaged after id " << m_nextId - 1 << ", repair it");
    repaired = true;
    m_connection->RepairConnection();
    // The rows read before the damage go out first.
    if (m_filled > 0) return;
  }
}

int ValueIterator::ReadBatch() {
  const SqliteHandle handle = m_connection->GetConnection();
  const KeptStatement kept(*m_connection, handle, kIteratorQuery);
  sqlite3_stmt* const statement = kept.get();
  SENDARA_SQLITE_CHECK(sqlite3_bind_int64(statement, 1, m_nextId));
  SENDARA_SQLITE_CHECK(sqlite3_bind_int64(statement, 2, m_lastId));
  std::size_t bytes = 0;
  while (m_filled < kBatchRows && bytes < kBatchBytes) {
    int rc = sqlite3_blocking_call([statement] { return sqlite3_step(statement); }, m_tracer.Get());
    if (rc == SQLITE_DONE) {
      m_exhausted = true;
      return SQLITE_OK;
    }
    if (m_filled == m_batch.size()) m_batch.emplace_back();
    IValueStorage::Line& row = m_batch[m_filled];
    if (rc == SQLITE_ROW) rc = ReadRow(statement, row);
    if (rc != SQLITE_OK) return rc;
    ++m_filled;
    bytes += row.value.size();
    // The last id has no successor to go on from.
    if (row.id >= m_lastId) {
      m_exhausted = true;
      return SQLITE_OK;
    }
    m_nextId = row.id + 1;
  }
  return SQLITE_OK;
}

const IValueStorage::Line& ValueIterator::Current() const {
  SENDARA_CHECK(m_onRow, internal_exception, oru::rc::InvalidState, "invalid state");
  return m_current;
}

void ValueIterator::SwapCurrent(IValueStorage::Line& row) {
  SENDARA_CHECK(m_onRow, internal_exception, oru::rc::InvalidState, "invalid state");
  std::swap(m_current, row);
  m_onRow = false;
}

}  // namespace sendara::base::storages
