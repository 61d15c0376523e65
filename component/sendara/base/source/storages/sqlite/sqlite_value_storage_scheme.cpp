#include "component/sendara/base/detail/storages/sqlite/sqlite_value_storage_scheme.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sqlite_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

namespace sendara::base::storages {
namespace {
constexpr std::int64_t kIncrementalAutoVacuum = 2;
const SqliteQueryExecutor::RowHandler kIgnoreRows = [](sqlite3_stmt*) { return true; };

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

Statement Prepare(const SqliteHandle& handle, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(handle.get(), sql, -1, &raw, nullptr);
  Statement statement(raw, &sqlite3_finalize);
  SENDARA_SQLITE_CHECK(rc);
  return statement;
}

// The first column of the first row; nothing when there is no row, the
// value is NULL, or the query fails.
std::optional<std::int64_t> ReadInteger(const SqliteHandle& handle, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(handle.get(), sql, -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return std::nullopt;
  }
  const Statement statement(raw, &sqlite3_finalize);
  if (sqlite3_step(raw) != SQLITE_ROW || sqlite3_column_type(raw, 0) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int64(raw, 0);
}

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
    try {
      m_executor->ExecuteQuery(handle,
                               "SELECT ifnull(min(id), 0), ifnull(max(id), 0), count(*) FROM value_storage;",
                               nullptr, [&](sqlite3_stmt* statement) {
                                 first = sqlite3_column_int64(statement, 0);
                                 last = sqlite3_column_int64(statement, 1);
                                 count = sqlite3_column_int64(statement, 2);
                                 return false;
                               });
    } catch (const sqlite_exception&) {
      // The count reads every page: a damaged one must not fail the open,
      // or the trace level would decide whether the file is repaired.
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end, storage info: can't be read");
      return;
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "end, storage info: ids range [" << first << ", " << last << "]; count = " << count);
  }
}

std::vector<IdRange> SqliteValueStorageScheme::CopyReadableRows(const SqliteHandle& damaged,
                                                                const SqliteHandle& fresh) {
  // A cut file's header counts pages that are gone; without this the
  // library refuses to read the pages that are there.
  m_executor->ExecuteQuery(damaged, "PRAGMA writable_schema = ON;", nullptr, kIgnoreRows);
  // The ids to look for: from the smallest to the end of the id sequence,
  // which AUTOINCREMENT keeps on a page of its own. Either read may meet
  // the damage; then the other bound, or the first id there is, stands in.
  const std::optional<std::int64_t> sequence =
      ReadInteger(damaged, "SELECT seq FROM sqlite_sequence WHERE name = 'value_storage';");
  const std::optional<std::int64_t> largest = ReadInteger(damaged, "SELECT max(id) FROM value_storage;");
  SENDARA_CHECK(sequence || largest, sqlite_exception, oru::rc::BasesCorrupted,
                "no id of the damaged file can be read");
  const std::int64_t last = std::max(sequence.value_or(0), largest.value_or(0));
  std::int64_t next = std::max<std::int64_t>(ReadInteger(damaged, "SELECT min(id) FROM value_storage;").value_or(1), 1);

  const Statement read = Prepare(damaged, "SELECT id, value FROM value_storage WHERE id BETWEEN ? AND ?;");
  const Statement write = Prepare(fresh, "INSERT INTO value_storage (id, value) VALUES (?, ?);");
  const auto seek = [&] {
    sqlite3_reset(read.get());
    SENDARA_SQLITE_CHECK(sqlite3_bind_int64(read.get(), 1, next));
    SENDARA_SQLITE_CHECK(sqlite3_bind_int64(read.get(), 2, last));
  };

  std::vector<IdRange> lost;
  // The first id of a run that could not be read; 0 outside one (ids
  // start at 1).
  std::int64_t lostFrom = 0;
  const auto endLoss = [&](std::int64_t through) {
    if (lostFrom > 0 && lostFrom <= through) lost.push_back({lostFrom, through});
    lostFrom = 0;
  };
  std::uint64_t copied = 0;
  m_executor->ExecuteQuery(fresh, "BEGIN;", nullptr, nullptr);
  seek();
  while (next <= last) {
    const int rc = sqlite3_step(read.get());
    if (rc == SQLITE_DONE) break;
    if (rc == SQLITE_ROW) {
      const std::int64_t id = sqlite3_column_int64(read.get(), 0);
      if (id < next) continue;  // a damaged page may repeat ids: each is taken once
      // The seek landed: the ids between the last failed one and this row
      // do not exist.
      endLoss(next - 1);
      const auto* text = sqlite3_column_text(read.get(), 1);
      if (!text && sqlite3_column_type(read.get(), 1) != SQLITE_NULL) {
        // The row is there, its value is not (a damaged overflow page).
        lost.push_back({id, id});
        next = id + 1;
        seek();
        continue;
      }
      sqlite3_reset(write.get());
      SENDARA_SQLITE_CHECK(sqlite3_bind_int64(write.get(), 1, id));
      SENDARA_SQLITE_CHECK(sqlite3_bind_text(write.get(), 2, reinterpret_cast<const char*>(text),
                                             sqlite3_column_bytes(read.get(), 1), SQLITE_STATIC));
      const int written = sqlite3_step(write.get());
      if (written != SQLITE_DONE) SENDARA_SQLITE_CHECK(written);
      ++copied;
      next = id + 1;
      continue;
    }
    // Anything but the damage itself (no memory, an I/O error) ends the
    // copy: the caller falls back to starting afresh.
    if (!IsCorruptResult(rc)) SENDARA_SQLITE_CHECK(rc);
    // `next` cannot be reached: try the ids after it one by one until a seek
    // lands on a page that can be read.
    if (lostFrom == 0) lostFrom = next;
    ++next;
    seek();
  }
  endLoss(std::min(next - 1, last));

  // New rows must not take the ids of lost ones: somebody may still hold them.
  const auto setSequence = [&](const char* sql) {
    m_executor->ExecuteQuery(fresh, sql, [&](sqlite3_stmt* statement) {
      SENDARA_SQLITE_CHECK(sqlite3_bind_int64(statement, 1, last));
    }, nullptr);
  };
  setSequence("DELETE FROM sqlite_sequence WHERE name = 'value_storage' AND seq < ?;");
  if (!ReadInteger(fresh, "SELECT seq FROM sqlite_sequence WHERE name = 'value_storage';")) {
    setSequence("INSERT INTO sqlite_sequence (name, seq) VALUES ('value_storage', ?);");
  }
  m_executor->ExecuteQuery(fresh, "COMMIT;", nullptr, nullptr);
  SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "rows carried over from the damaged file: " << copied);
  return lost;
}

}  // namespace sendara::base::storages
