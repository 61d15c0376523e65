#include "component/sendara/base/detail/storages/sqlite/value_iterator.h"

#include <sqlite3.h>

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
      m_handle(std::move(handle)) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "query = " << kIteratorQuery);
  const int rc = sqlite3_blocking_call(
      [&] { return sqlite3_prepare_v2(m_handle.get(), kIteratorQuery, -1, &m_statement, nullptr); },
      m_tracer.Get());
  if (rc != SQLITE_OK) {
    sqlite3_finalize(m_statement);
    SENDARA_SQLITE_CHECK(rc);
  }
  const int first = sqlite3_bind_int64(m_statement, 1, firstId);
  const int last = sqlite3_bind_int64(m_statement, 2, lastId);
  if (first != SQLITE_OK || last != SQLITE_OK) {
    sqlite3_finalize(m_statement);
    SENDARA_SQLITE_CHECK(first != SQLITE_OK ? first : last);
  }
}

ValueIterator::~ValueIterator() { sqlite3_finalize(m_statement); }

bool ValueIterator::Next() {
  m_onRow = false;
  if (m_connection->Generation() != m_generation) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "database was repaired, iteration ends");
    return false;
  }
  const int rc = sqlite3_blocking_call([this] { return sqlite3_step(m_statement); }, m_tracer.Get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) SENDARA_SQLITE_CHECK(rc);
  m_current.id = sqlite3_column_int64(m_statement, 0);
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, 1));
  if (!text) SENDARA_SQLITE_CHECK(SQLITE_NOMEM);
  m_current.value.assign(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, 1)));
  m_onRow = true;
  return true;
}

const IValueStorage::Line& ValueIterator::Current() const {
  SENDARA_CHECK(m_onRow, internal_exception, oru::rc::InvalidState, "invalid state");
  return m_current;
}

}  // namespace sendara::base::storages
