#include "component/sendara/base/detail/storages/sqlite/sqlite_query_executor.h"

#include <sqlite3.h>

#include <memory>

#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_blocking_call.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

namespace sendara::base::storages {
namespace {
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
}  // namespace

void SqliteQueryExecutor::ExecuteQuery(const SqliteHandle& handle, const std::string& sql, const Binder& binder,
                                       const RowHandler& rowHandler) const {
  sqlite3_stmt* prepared = nullptr;
  const int prepareResult = sqlite3_blocking_call(
      [&] { return sqlite3_prepare_v2(handle.get(), sql.c_str(), -1, &prepared, nullptr); }, m_tracer.Get());
  // Finalised on every way out, the failed prepare included.
  const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(prepared);
  SENDARA_SQLITE_CHECK(prepareResult);
  if (!statement) return;  // only white space or a comment: nothing to run
  ExecutePrepared(statement.get(), binder, rowHandler);
}

void SqliteQueryExecutor::ExecutePrepared(sqlite3_stmt* statement, const Binder& binder,
                                          const RowHandler& rowHandler) const {
  sqlite3_reset(statement);
  if (binder) binder(statement);
  int rc = sqlite3_blocking_call([&] { return sqlite3_step(statement); }, m_tracer.Get());
  while (rc == SQLITE_ROW) {
    if (!rowHandler(statement)) break;
    rc = sqlite3_blocking_call([&] { return sqlite3_step(statement); }, m_tracer.Get());
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                "query = '" << sqlite3_sql(statement) << "'; result = '" << sqlite3_errstr(rc) << "' (" << rc << ")");
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) SENDARA_SQLITE_CHECK(rc);
}

void SqliteQueryExecutor::ExecuteRuns(sqlite3_stmt* statement, std::size_t runs, const RunBinder& binder) const {
  int rc = SQLITE_DONE;
  for (std::size_t run = 0; run < runs; ++run) {
    // A reset statement keeps its bindings; every run sets all of them.
    sqlite3_reset(statement);
    binder(statement, run);
    rc = sqlite3_blocking_call([&] { return sqlite3_step(statement); }, m_tracer.Get());
    if (rc != SQLITE_DONE) break;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                "query = '" << sqlite3_sql(statement) << "'; runs = " << runs << "; result = '" << sqlite3_errstr(rc)
                            << "' (" << rc << ")");
  if (rc != SQLITE_DONE) SENDARA_SQLITE_CHECK(rc);
}

}  // namespace sendara::base::storages
