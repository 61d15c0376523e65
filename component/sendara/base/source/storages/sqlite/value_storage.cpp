#include "component/sendara/base/detail/storages/sqlite/value_storage.h"

#include <sqlite3.h>

#include <algorithm>
#include <vector>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/execute_with_repair.h"
#include "component/sendara/base/detail/storages/sqlite/i_sqlite_scheme.h"
#include "component/sendara/base/detail/storages/sqlite/kept_statement.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"
#include "component/sendara/base/detail/storages/sqlite/value_iterator.h"

namespace sendara::base::storages {
namespace {

// "<prefix>(?),(?),(?)<suffix>", built at its final length.
std::string RepeatedStatement(std::string_view prefix, std::string_view item, std::size_t count,
                              std::string_view suffix) {
  std::string sql;
  sql.reserve(prefix.size() + count * (item.size() + 1) + suffix.size());
  sql += prefix;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) sql += ',';
    sql += item;
  }
  sql += suffix;
  return sql;
}

void BindText(sqlite3_stmt* statement, int index, std::string_view text) {
  // Not copied: the value outlives the statement.
  SENDARA_SQLITE_CHECK(
      sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC));
}

void BindInt64(sqlite3_stmt* statement, int index, std::int64_t value) {
  SENDARA_SQLITE_CHECK(sqlite3_bind_int64(statement, index, value));
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (!text) SENDARA_SQLITE_CHECK(SQLITE_NOMEM);
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// How many parameters one statement may carry on this connection.
std::size_t VariableLimit(const SqliteHandle& handle) {
  const int limit = sqlite3_limit(handle.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1);
  return limit > 0 ? static_cast<std::size_t>(limit) : 1;
}

// Runs `write()`, inside a transaction when it takes more than one
// statement, so that the whole is all or nothing.
template <class Write>
void AllOrNothing(const SqliteQueryExecutor& executor, const SqliteHandle& handle, bool oneStatement,
                  Write&& write) {
  if (oneStatement) {
    write();
    return;
  }
  executor.ExecuteQuery(handle, "BEGIN IMMEDIATE;", nullptr, nullptr);
  try {
    write();
    executor.ExecuteQuery(handle, "COMMIT;", nullptr, nullptr);
  } catch (...) {
    try {
      executor.ExecuteQuery(handle, "ROLLBACK;", nullptr, nullptr);
    } catch (...) {
      // The original failure is the one to report.
    }
    throw;
  }
}

// Runs `write(first, count)` over chunks of at most `limit` items, all or
// nothing.
template <class Write>
void InChunks(const SqliteQueryExecutor& executor, const SqliteHandle& handle, std::size_t total,
              std::size_t limit, Write&& write) {
  AllOrNothing(executor, handle, total <= limit, [&] {
    for (std::size_t first = 0; first < total; first += limit) write(first, std::min(limit, total - first));
  });
}

// The ids as runs of consecutive ids, ascending; an id given twice counts
// once.
std::vector<IdRange> ConsecutiveRuns(std::span<const std::int64_t> ids) {
  std::vector<std::int64_t> sorted(ids.begin(), ids.end());
  std::sort(sorted.begin(), sorted.end());
  std::vector<IdRange> runs;
  for (const std::int64_t id : sorted) {
    // id - 1 is only reached when id is above the last, so cannot wrap.
    if (!runs.empty() && (id == runs.back().last || id - 1 == runs.back().last)) {
      runs.back().last = id;
    } else {
      runs.push_back({id, id});
    }
  }
  return runs;
}

}  // namespace

ValueStorage::ValueStorage(oru::RefPtr<oru::ITracer> tracer, SensitiveDataTracePolicy policy,
                           std::shared_ptr<SqliteConnection> connection,
                           std::shared_ptr<SqliteQueryExecutor> executor, std::optional<std::string> name)
    : m_tracer(std::move(tracer)),
      m_policy(std::move(policy)),
      m_connection(std::move(connection)),
      m_executor(std::move(executor)),
      m_name(name.value_or("")) {
  SENDARA_CONTRACT(m_connection != nullptr, "connection");
  SENDARA_CONTRACT(m_executor != nullptr, "executor");
}

template <class Action>
auto ValueStorage::Execute(Action&& action) {
  return ExecuteWithRepair(m_tracer.Get(), *m_connection,
                           [&](SqliteConnection& connection) { return action(connection.GetConnection()); });
}

void ValueStorage::Clear() {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "begin: storage = " << m_name);
  Execute([this](const SqliteHandle& handle) {
    m_executor->ExecuteQuery(handle, "DELETE FROM value_storage;", nullptr, nullptr);
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "storage = " << m_name);
    m_executor->ExecuteQuery(handle, "PRAGMA incremental_vacuum;", nullptr, [](sqlite3_stmt*) { return true; });
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end");
  });
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "end");
}

std::uint64_t ValueStorage::Count() {
  const std::uint64_t count = Execute([this](const SqliteHandle& handle) {
    std::int64_t n = 0;
    m_executor->ExecuteQuery(handle, "SELECT count(*) FROM value_storage;", nullptr, [&n](sqlite3_stmt* statement) {
      n = sqlite3_column_int64(statement, 0);
      return false;
    });
    return static_cast<std::uint64_t>(n);
  });
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "out: count = " << count);
  return count;
}

std::uint64_t ValueStorage::GetSize() {
  const std::uint64_t size = Execute([this](const SqliteHandle& handle) {
    std::int64_t bytes = 0;
    m_executor->ExecuteQuery(handle,
                             "SELECT page_count * page_size as size FROM pragma_page_count(), pragma_page_size();",
                             nullptr, [&bytes](sqlite3_stmt* statement) {
                               bytes = sqlite3_column_int64(statement, 0);
                               return false;
                             });
    return static_cast<std::uint64_t>(bytes);
  });
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "out: size = " << size << " bytes");
  return size;
}

std::uint64_t ValueStorage::CountIdRange(const SqliteHandle& handle, std::int64_t first, std::int64_t last) {
  std::int64_t n = 0;
  m_executor->ExecuteQuery(
      handle, "SELECT count(*) FROM value_storage WHERE id BETWEEN ? AND ?;",
      [&](sqlite3_stmt* statement) {
        BindInt64(statement, 1, first);
        BindInt64(statement, 2, last);
      },
      [&n](sqlite3_stmt* statement) {
        n = sqlite3_column_int64(statement, 0);
        return false;
      });
  return static_cast<std::uint64_t>(n);
}

IValueStorage::Iterator ValueStorage::CreateIterator() {
  const std::optional<Line> front = GetFront();
  if (!front) return {};
  const std::optional<Line> back = GetBack();
  if (!back) return {};
  return Execute([&](const SqliteHandle& handle) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "iterator info: storage = " << m_name << "; ids range [" << front->id << ", " << back->id
                                              << "]; count = " << CountIdRange(handle, front->id, back->id));
    return Iterator(std::make_unique<ValueIterator>(m_tracer, m_connection, front->id, back->id));
  });
}

void ValueStorage::Insert(std::span<const std::string> values) {
  if (values.empty()) return;
  const bool traceItems = m_tracer && m_tracer->IsLevelEnabled(TraceLevel::kDetail);
  Execute([&](const SqliteHandle& handle) {
    InChunks(*m_executor, handle, values.size(), VariableLimit(handle), [&](std::size_t first, std::size_t count) {
      const std::string sql = RepeatedStatement("INSERT INTO value_storage (value) VALUES ", "(?)", count,
                                                traceItems ? " RETURNING id;" : ";");
      std::size_t returned = first;
      m_executor->ExecuteQuery(
          handle, sql,
          [&](sqlite3_stmt* statement) {
            for (std::size_t i = 0; i < count; ++i) BindText(statement, static_cast<int>(i + 1), values[first + i]);
          },
          [&](sqlite3_stmt* statement) {
            // Only with RETURNING: the n-th id belongs to the n-th value.
            const std::int64_t id = sqlite3_column_int64(statement, 0);
            SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                          "storage = " << m_name << "; id = " << id
                                       << "; item = " << m_policy.Reveal(values[returned]));
            ++returned;
            return true;
          });
    });
  });
}

std::int64_t ValueStorage::Insert(std::string_view value) {
  return Execute([&](const SqliteHandle& handle) {
    std::int64_t id = 0;
    m_executor->ExecuteQuery(
        handle, "INSERT INTO value_storage (value) VALUES (?) RETURNING id;",
        [&](sqlite3_stmt* statement) { BindText(statement, 1, value); },
        [&id](sqlite3_stmt* statement) {
          id = sqlite3_column_int64(statement, 0);
          return true;
        });
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "storage = " << m_name << "; id = " << id << "; item = " << m_policy.Reveal(value));
    return id;
  });
}

void ValueStorage::DeleteById(std::int64_t id) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "storage = " << m_name << "; id = " << id);
  Execute([&](const SqliteHandle& handle) {
    m_executor->ExecuteQuery(
        handle, "DELETE FROM value_storage WHERE id=?;", [&](sqlite3_stmt* statement) { BindInt64(statement, 1, id); },
        nullptr);
  });
}

void ValueStorage::DeleteByIds(std::span<const std::int64_t> ids) {
  if (ids.empty()) return;
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "storage = " << m_name << "; ids = " << [&] {
    std::string list;
    for (const std::int64_t id : ids) {
      if (!list.empty()) list += ", ";
      list += std::to_string(id);
    }
    return list;
  }());
  // Rows are handed over and deleted in id order, so the ids come in a few
  // runs of consecutive ids: each run is one range, found with one seek
  // rather than one per id, by one statement reused from run to run. Only
  // the ids given fall into their runs.
  const std::vector<IdRange> runs = ConsecutiveRuns(ids);
  Execute([&](const SqliteHandle& handle) {
    AllOrNothing(*m_executor, handle, runs.size() == 1, [&] {
      const KeptStatement kept(*m_connection, handle, "DELETE FROM value_storage WHERE id BETWEEN ? AND ?;");
      m_executor->ExecuteRuns(kept.get(), runs.size(), [&](sqlite3_stmt* statement, std::size_t run) {
        BindInt64(statement, 1, runs[run].first);
        BindInt64(statement, 2, runs[run].last);
      });
    });
  });
}

std::optional<IValueStorage::Line> ValueStorage::ReadOneLine(const char* sql) {
  std::optional<Line> line = Execute([&](const SqliteHandle& handle) {
    std::optional<Line> found;
    // Read on every drain, twice: kept prepared.
    const KeptStatement kept(*m_connection, handle, sql);
    m_executor->ExecutePrepared(kept.get(), nullptr, [&found](sqlite3_stmt* statement) {
      found = Line{sqlite3_column_int64(statement, 0), ColumnText(statement, 1)};
      return false;
    });
    return found;
  });
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                "out: exists = " << (line ? "true" : "false") << "; id = " << (line ? line->id : 0));
  return line;
}

std::optional<IValueStorage::Line> ValueStorage::GetFront() {
  return ReadOneLine("SELECT * FROM value_storage LIMIT 1;");
}

std::optional<IValueStorage::Line> ValueStorage::GetBack() {
  return ReadOneLine("SELECT * FROM value_storage ORDER BY id DESC LIMIT 1;");
}

}  // namespace sendara::base::storages
