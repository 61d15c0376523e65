#pragma once

#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"

namespace sendara::base::storages {

// A statement kept by the connection for `sql`, handed back when done.
class KeptStatement {
 public:
  KeptStatement(SqliteConnection& connection, const SqliteHandle& handle, const char* sql)
      : m_connection(connection), m_statement(connection.TakeStatement(handle, sql)) {}
  ~KeptStatement() { m_connection.ReturnStatement(m_statement); }
  KeptStatement(const KeptStatement&) = delete;
  KeptStatement& operator=(const KeptStatement&) = delete;

  sqlite3_stmt* get() const noexcept { return m_statement; }

 private:
  SqliteConnection& m_connection;
  sqlite3_stmt* const m_statement;
};

}  // namespace sendara::base::storages
