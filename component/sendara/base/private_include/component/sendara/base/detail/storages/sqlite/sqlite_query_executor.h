#pragma once

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

  explicit SqliteQueryExecutor(oru::RefPtr<oru::ITracer> tracer) : m_tracer(std::move(tracer)) {}

  // Raises sqlite_corrupt_exception or sqlite_exception for a failing
  // result. A statement that yields a row raises std::bad_function_call
  // when no row handler is given.
  void ExecuteQuery(const SqliteHandle& handle, const std::string& sql, const Binder& binder,
                    const RowHandler& rowHandler) const;

  oru::ITracer* Tracer() const noexcept { return m_tracer.Get(); }

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
};

}  // namespace sendara::base::storages
