#pragma once

#include <string>

#include "component/oru/exception_to_result.h"
#include "component/oru/i_tracer.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/sqlite_corrupt_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"

namespace sendara::base::storages {

// Runs `action(connection)`; when it finds the database corrupt, repairs the
// connection and runs it once more. What the second run raises propagates.
template <class Action>
auto ExecuteWithRepair(oru::ITracer* tracer, SqliteConnection& connection, Action&& action)
    -> decltype(action(connection)) {
  try {
    return action(connection);
  } catch (const sqlite_corrupt_exception&) {
    std::string prefix = "[";
    prefix += SENDARA_FUNCTION_NAME;
    prefix += "]";
    oru::ExceptionToResult(tracer, prefix);
  }
  SENDARA_TRACE(tracer, TraceLevel::kWarning, "database corrupt, try repair and create iterator");
  connection.RepairConnection();
  return action(connection);
}

}  // namespace sendara::base::storages
