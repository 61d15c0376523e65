#include "component/sendara/base/detail/storages/sqlite/value_iterator.h"

#include <sqlite3.h>

#include <utility>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_blocking_call.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

namespace sendara::base::storages {
namespace {
constexpr const char* kIteratorQuery = "SELECT * FROM value_storage WHERE id BETWEEN ? AND ?;";
}  // namespace

ValueIterator::ValueIterator(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<SqliteConnection> connection,
                             SqliteHandle handle, std::int64_t firstId, std::int64_t lastId)
    : m_tracer(std::move(tracer)),
      m_connection(std::move(connection)),
      m_generation(m_connection->Generation()),
      m_nextId(firstId),
      m_lastId(lastId) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "query = " << kIteratorQuery);
  Prepare(std::move(handle));
}

ValueIterator::~ValueIterator() { Release(); }

void ValueIterator::Prepare(SqliteHandle handle) {
  m_handle = std::move(handle);
  const int rc = sqlite3_blocking_call(
      [&] { return sqlite3_prepare_v2(m_handle.get(), kIteratorQuery, -1, &m_statement, nullptr); },
      m_tracer.Get());
  if (rc != SQLITE_OK) {
    Release();
    SENDARA_SQLITE_CHECK(rc);
  }
  const int first = sqlite3_bind_int64(m_statement, 1, m_nextId);
  const int last = sqlite3_bind_int64(m_statement, 2, m_lastId);
  if (first != SQLITE_OK || last != SQLITE_OK) {
    Release();
    SENDARA_SQLITE_CHECK(first != SQLITE_OK ? first : last);
  }
}

void ValueIterator::Release() noexcept {
  sqlite3_finalize(m_statement);
  m_statement = nullptr;
  m_handle.reset();
}

bool ValueIterator::Next() {
  m_onRow = false;
  bool repaired = false;
  for (;;) {
    if (m_connection->Generation() != m_generation || !m_statement) {
      // The old handle may be closed already: not one more step on it.
      Release();
      m_generation = m_connection->Generation();
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "database was repaired, iteration goes on from id " << m_nextId);
      Prepare(m_connection->GetConnection());
    }
    int rc = sqlite3_blocking_call([this] { return sqlite3_step(m_statement); }, m_tracer.Get());
    if (rc == SQLITE_DONE) return false;
    if (rc == SQLITE_ROW) rc = ReadRow();
    if (rc == SQLITE_OK) {
      m_nextId = m_current.id + 1;
      m_onRow = true;
      return true;
    }
    // A damaged page ends nothing: what can still be read is carried over
    // into a rebuilt file, once, and the walk goes on there.
    if (!IsCorruptResult(rc) || repaired) SENDARA_SQLITE_CHECK(rc);
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "database damaged after id " << m_nextId - 1 << ", repair it");
    repaired = true;
    Release();
    m_connection->RepairConnection();
  }
}

int ValueIterator::ReadRow() {
  m_current.id = sqlite3_column_int64(m_statement, 0);
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, 1));
  if (!text) {
    // NULL is a value that is no text; otherwise the library says why.
    if (sqlite3_column_type(m_statement, 1) != SQLITE_NULL) {
      const int rc = sqlite3_errcode(m_handle.get());
      return rc == SQLITE_OK || rc == SQLITE_ROW ? SQLITE_NOMEM : rc;
    }
    m_current.value.clear();
    return SQLITE_OK;
  }
  m_current.value.assign(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, 1)));
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
