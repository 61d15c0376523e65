#include "component/sendara/base/detail/storages/sqlite/sqlite_value_storage_scheme.h"

#include <sqlite3.h>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base::storages {
namespace {
constexpr std::int64_t kIncrementalAutoVacuum = 2;
const SqliteQueryExecutor::RowHandler kIgnoreRows = [](sqlite3_stmt*) { return true; };
}  // namespace

SqliteValueStorageScheme::SqliteValueStorageScheme(oru::RefPtr<oru::ITracer> tracer,
                                                   std::shared_ptr<SqliteQueryExecutor> executor)
    : m_tracer(std::move(tracer)), m_executor(std::move(executor)) {
  SENDARA_CONTRACT(m_executor != nullptr, "executor");
}

void SqliteValueStorageScheme::ApplyScheme(const SqliteHandle& handle) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "begin");
  // A file opened by a UTF-16 name would otherwise be created with UTF-16
  // text, and every value, UTF-8 on both sides, would be translated on the
  // way in and out. No effect on an existing file.
  m_executor->ExecuteQuery(handle, "PRAGMA encoding = 'UTF-8';", nullptr, kIgnoreRows);
  for (const char* pragma : {"PRAGMA auto_vacuum = INCREMENTAL;", "PRAGMA journal_mode = WAL;",
                             "PRAGMA synchronous = OFF;", "PRAGMA secure_delete = FALSE;"}) {
    m_executor->ExecuteQuery(handle, pragma, nullptr, kIgnoreRows);
  }

  // The pragma does not change a file that already has tables: only a
  // VACUUM converts it, once.
  std::int64_t autoVacuum = -1;
  m_executor->ExecuteQuery(handle, "PRAGMA auto_vacuum;", nullptr, [&autoVacuum](sqlite3_stmt* statement) {
    autoVacuum = sqlite3_column_int64(statement, 0);
    return false;
  });
  if (autoVacuum != kIncrementalAutoVacuum) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "auto_vacuum mode not INCREMENTAL, for change mode need execute VACUUM: " << autoVacuum
                                                                                            << " -> 2");
    m_executor->ExecuteQuery(handle, "VACUUM;", nullptr, nullptr);
  }

  m_executor->ExecuteQuery(
      handle, "CREATE TABLE IF NOT EXISTS value_storage (id INTEGER PRIMARY KEY AUTOINCREMENT, value TEXT);",
      nullptr, nullptr);

  if (m_tracer && m_tracer->IsLevelEnabled(TraceLevel::kInfo)) {
    std::int64_t first = 0, last = 0, count = 0;
    m_executor->ExecuteQuery(handle, "SELECT ifnull(min(id), 0), ifnull(max(id), 0), count(*) FROM value_storage;",
                             nullptr, [&](sqlite3_stmt* statement) {
                               first = sqlite3_column_int64(statement, 0);
                               last = sqlite3_column_int64(statement, 1);
                               count = sqlite3_column_int64(statement, 2);
                               return false;
                             });
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "end, storage info: ids range [" << first << ", " << last << "]; count = " << count);
  }
}

}  // namespace sendara::base::storages
