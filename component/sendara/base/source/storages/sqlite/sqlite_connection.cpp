#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"

#include <sqlite3.h>

#include <atomic>
#include <string>
#include <system_error>

#include "component/oru/exception_to_result.h"
#include "component/platform/system_error.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sqlite_corrupt_exception.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

namespace sendara::base::storages {

SqliteConnection::SqliteConnection(oru::RefPtr<oru::ITracer> tracer, std::filesystem::path path,
                                   std::shared_ptr<SqliteQueryExecutor> executor,
                                   std::shared_ptr<ISqliteScheme> scheme)
    : m_tracer(std::move(tracer)),
      m_path(std::move(path)),
      m_executor(std::move(executor)),
      m_scheme(std::move(scheme)) {
  SENDARA_CONTRACT(m_executor != nullptr, "executor");
  SENDARA_CONTRACT(m_scheme != nullptr, "scheme");
}

SqliteHandle SqliteConnection::GetConnection() {
  std::lock_guard lock(m_mutex);
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
  // between its deletion and the fresh start.
  DropHandleLocked();
  DeleteFiles();
  m_handle = OpenLocked();
  return m_handle;
}

void SqliteConnection::RepairConnection() {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "path to db = " << m_path.string());
  // Under the lock, as in GetConnection: nobody may reopen the old file
  // between the close and the deletion.
  std::lock_guard lock(m_mutex);
  DropHandleLocked();
  DeleteFiles();
}

SqliteHandle SqliteConnection::OpenLocked() {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "path to db = " << m_path.string());
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open16(m_path.u16string().c_str(), &raw);
  // Wrapped whatever the result: a failed open still hands out a handle to
  // close. A handle force-closed by a repair is not closed again here: the
  // library may have freed it by then.
  auto closed = std::make_shared<std::atomic<bool>>(false);
  SqliteHandle handle(raw, [tracer = m_tracer, path = m_path.string(), closed](sqlite3* db) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "close repository, path to db = " << path);
    if (!closed->exchange(true)) sqlite3_close_v2(db);
  });
  m_handleClosed = std::move(closed);
  SENDARA_SQLITE_CHECK(rc);
  m_scheme->ApplyScheme(handle);
  return handle;
}

void SqliteConnection::DropHandleLocked() {
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

void SqliteConnection::DeleteFiles() {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::path file = m_path;
    file += suffix;
    std::error_code error;
    std::filesystem::remove(file, error);  // a missing file counts as deleted
    if (error) {
      tools_exception exception(platform::ResultFromErrno(error.value()), "failed to delete database file",
                                __FILE__, __LINE__);
      exception.SetProperty("path", file.string());
      ThrowNested(std::move(exception));
    }
  }
}

}  // namespace sendara::base::storages
