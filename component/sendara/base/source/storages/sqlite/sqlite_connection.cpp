#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "component/oru/exception_to_result.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/system_error.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sqlite_corrupt_exception.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_blocking_call.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

namespace sendara::base::storages {
namespace {
// More idle statements than the few kept queries, run by a few threads at
// once, would need: the rest are finalised.
constexpr std::size_t kMaxIdleStatements = 16;
}  // namespace

SqliteConnection::SqliteConnection(oru::RefPtr<oru::ITracer> tracer, std::filesystem::path path,
                                   std::shared_ptr<SqliteQueryExecutor> executor,
                                   std::shared_ptr<ISqliteScheme> scheme, RowsLostHandler rowsLost)
    : m_tracer(std::move(tracer)),
      m_path(std::move(path)),
      m_executor(std::move(executor)),
      m_scheme(std::move(scheme)),
      m_rowsLost(std::move(rowsLost)) {
  SENDARA_CONTRACT(m_executor != nullptr, "executor");
  SENDARA_CONTRACT(m_scheme != nullptr, "scheme");
}

SqliteConnection::~SqliteConnection() {
  platform::MutexLock lock(&m_mutex);
  FinalizeIdleLocked();
}

sqlite3_stmt* SqliteConnection::TakeStatement(const SqliteHandle& handle, const char* sql) {
  {
    platform::MutexLock lock(&m_mutex);
    const auto kept = std::find_if(m_idleStatements.begin(), m_idleStatements.end(), [&](sqlite3_stmt* statement) {
      return sqlite3_db_handle(statement) == handle.get() && std::strcmp(sqlite3_sql(statement), sql) == 0;
    });
    if (kept != m_idleStatements.end()) {
      sqlite3_stmt* const statement = *kept;
      m_idleStatements.erase(kept);
      return statement;
    }
  }
  // Prepared outside the lock: it may wait for a busy database.
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_blocking_call(
      [&] { return sqlite3_prepare_v3(handle.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr); },
      m_tracer.Get());
  if (rc != SQLITE_OK || !statement) {
    sqlite3_finalize(statement);
    SENDARA_SQLITE_CHECK(rc != SQLITE_OK ? rc : SQLITE_MISUSE);  // an empty statement is a caller's mistake
  }
  return statement;
}

void SqliteConnection::ReturnStatement(sqlite3_stmt* statement) noexcept {
  if (!statement) return;
  // Nothing of the last run stays behind: no open read, no bound text of
  // the caller's.
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  {
    platform::MutexLock lock(&m_mutex);
    // One of a handle dropped meanwhile (a repair) is of no further use.
    if (m_handle && sqlite3_db_handle(statement) == m_handle.get() && m_idleStatements.size() < kMaxIdleStatements) {
      try {
        m_idleStatements.push_back(statement);
        return;
      } catch (...) {
        // Not kept: finalised below.
      }
    }
  }
  sqlite3_finalize(statement);
}

void SqliteConnection::FinalizeIdleLocked() noexcept {
  for (sqlite3_stmt* statement : m_idleStatements) sqlite3_finalize(statement);
  m_idleStatements.clear();
}

SqliteHandle SqliteConnection::GetConnection() {
  platform::MutexLock lock(&m_mutex);
  if (m_handle) return m_handle;
  try {
    m_handle = OpenLocked();
    return m_handle;
  } catch (const sqlite_corrupt_exception&) {
    std::string prefix = "[";
    prefix += SENDARA_FUNCTION_NAME;
    prefix += "]";
    oru::ExceptionToResult(m_tracer.Get(), prefix);
  }
  // Repaired without letting go of the lock: nobody may open the file
  // between its deletion and the fresh start. A file too damaged to open
  // with its scheme may still give rows to a bare read.
  DropHandleLocked();
  std::filesystem::path rebuilt;
  std::uint64_t lostRows = 0;
  {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(reinterpret_cast<const char*>(m_path.u8string().c_str()), &raw, SQLITE_OPEN_READWRITE, nullptr);
    const SqliteHandle damaged(raw, [](sqlite3* db) { sqlite3_close_v2(db); });
    if (rc == SQLITE_OK) rebuilt = SalvageLocked(damaged, lostRows);
  }
  ReplaceLocked(rebuilt, lostRows);
  m_handle = OpenLocked();
  return m_handle;
}

void SqliteConnection::RepairConnection() {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "path to db = " << m_path.string());
  // Under the lock, as in GetConnection: nobody may reopen the old file
  // between the close and the replacement.
  platform::MutexLock lock(&m_mutex);
  std::uint64_t lostRows = 0;
  const std::filesystem::path rebuilt = m_handle ? SalvageLocked(m_handle, lostRows) : std::filesystem::path();
  DropHandleLocked();
  ReplaceLocked(rebuilt, lostRows);
}

void SqliteConnection::ReplaceLocked(const std::filesystem::path& rebuilt, std::uint64_t lostRows) {
  DeleteFiles(m_path);
  if (rebuilt.empty()) return;
  std::error_code error;
  std::filesystem::rename(rebuilt, m_path, error);
  if (error) {
    SENDARA_TRACE(m_tracer, TraceLevel::kError,
                  "rebuilt database can't take the place of the damaged one, its rows are lost: "
                      << error.message());
    std::filesystem::remove(rebuilt, error);
    return;
  }
  // Told only now: a repair that fails before this point leaves the damaged
  // file, and the next one finds and tells the same rows again.
  if (lostRows > 0 && m_rowsLost) m_rowsLost(lostRows);
}

std::filesystem::path SqliteConnection::SalvageLocked(const SqliteHandle& damaged, std::uint64_t& lostRows) {
  std::filesystem::path target = m_path;
  target += "-salvage";
  try {
    DeleteFiles(target);  // left by a repair that did not finish
    std::vector<IdRange> lost;
    {
      const SqliteHandle fresh = Open(target, std::make_shared<std::atomic<bool>>(false));
      lost = m_scheme->CopyReadableRows(damaged, fresh);
      // One self-contained file to move into place: no log beside it.
      m_executor->ExecuteQuery(fresh, "PRAGMA journal_mode = DELETE;", nullptr, [](sqlite3_stmt*) { return true; });
    }
    std::uint64_t count = 0;
    for (const IdRange& range : lost) {
      // Where, never what: the rows' content stays out of the trace.
      SENDARA_TRACE(m_tracer, TraceLevel::kError,
                    "stored rows can't be read and are lost: path to db = " << m_path.string() << "; ids ["
                                                                            << range.first << ", " << range.last
                                                                            << "]");
      count += static_cast<std::uint64_t>(range.last - range.first) + 1;
    }
    lostRows = count;
    return target;
  } catch (...) {
    std::string prefix = "[";
    prefix += SENDARA_FUNCTION_NAME;
    prefix += "]";
    oru::ExceptionToResult(m_tracer.Get(), prefix);
    SENDARA_TRACE(m_tracer, TraceLevel::kError,
                  "rows of the damaged database can't be carried over, it is started afresh: path to db = "
                      << m_path.string());
    try {
      DeleteFiles(target);
    } catch (...) {
      // Left behind; the next repair deletes it first.
    }
    return {};
  }
}

SqliteHandle SqliteConnection::OpenLocked() {
  auto closed = std::make_shared<std::atomic<bool>>(false);
  SqliteHandle handle = Open(m_path, closed);
  m_handleClosed = std::move(closed);
  return handle;
}

SqliteHandle SqliteConnection::Open(const std::filesystem::path& path, std::shared_ptr<std::atomic<bool>> closed) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "path to db = " << path.string());
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open16(path.u16string().c_str(), &raw);
  // Wrapped whatever the result: a failed open still hands out a handle to
  // close. A handle force-closed by a repair is not closed again here: the
  // library may have freed it by then.
  SqliteHandle handle(raw, [tracer = m_tracer, path = path.string(), closed = std::move(closed)](sqlite3* db) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "close repository, path to db = " << path);
    if (!closed->exchange(true)) sqlite3_close_v2(db);
  });
  SENDARA_SQLITE_CHECK(rc);
  m_scheme->ApplyScheme(handle);
  return handle;
}

void SqliteConnection::DropHandleLocked() {
  FinalizeIdleLocked();
  if (!m_handle) return;
  // Readers of the old file (iterators) learn that its row ids mean nothing
  // in the new one.
  m_generation.fetch_add(1, std::memory_order_release);
  if (m_handle.use_count() > 1) {
    // Others still hold it (an iterator, a running query): close it now. The
    // close waits for their statements to be finalised, and the deleter's
    // own close later finds nothing left to do.
    if (!m_handleClosed->exchange(true)) {
      const int rc = sqlite3_close_v2(m_handle.get());
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "force close db: result = " << rc);
    }
  }
  m_handle.reset();
}

void SqliteConnection::DeleteFiles(const std::filesystem::path& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::path file = path;
    file += suffix;
    std::error_code error;
    std::filesystem::remove(file, error);  // a missing file counts as deleted
    if (error) {
      tools_exception exception(platform::ResultFromErrorCode(error), "failed to delete database file",
                                __FILE__, __LINE__);
      exception.SetProperty("path", file.string());
      ThrowNested(std::move(exception));
    }
  }
}

}  // namespace sendara::base::storages
