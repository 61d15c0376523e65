#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_handle.h"

namespace sendara::base::storages {

// Runs one statement: prepare, bind, step through the rows, finalise.
class SqliteQueryExecutor {
 public:
  using Binder = std::function<void(sqlite3_stmt*)>;
  // Receives the statement on a row; false stops stepping (a success).
  using RowHandler = std::function<bool(sqlite3_stmt*)>;
  // Binds the parameters of the run with the given index.
  using RunBinder = std::function<void(sqlite3_stmt*, std::size_t)>;

  explicit SqliteQueryExecutor(oru::RefPtr<oru::ITracer> tracer) : m_tracer(std::move(tracer)) {}

  // Raises sqlite_corrupt_exception or sqlite_exception for a failing
  // result. A statement that yields a row raises std::bad_function_call
  // when no row handler is given.
  void ExecuteQuery(const SqliteHandle& handle, const std::string& sql, const Binder& binder,
                    const RowHandler& rowHandler) const;
  // ExecuteQuery for a statement prepared already (one kept by the
  // connection): reset first, left bound to the caller.
  void ExecutePrepared(sqlite3_stmt* statement, const Binder& binder, const RowHandler& rowHandler) const;
  // Runs a prepared statement that yields no rows `runs` times, bound anew
  // for each run; stops at the first failing run and raises as
  // ExecuteQuery. Not a transaction of its own.
  void ExecuteRuns(sqlite3_stmt* statement, std::size_t runs, const RunBinder& binder) const;

  oru::ITracer* Tracer() const noexcept { return m_tracer.Get(); }

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
};

}  // namespace sendara::base::storages
