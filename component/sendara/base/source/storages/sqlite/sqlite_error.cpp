#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"

#include <sqlite3.h>

#include <string>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sqlite_corrupt_exception.h"
#include "component/sendara/base/detail/common/sqlite_exception.h"

namespace sendara::base::storages {
namespace {

oru::Result ResultOf(int code) {
  switch (code & 0xFF) {
    case SQLITE_NOMEM:
      return oru::rc::OutOfMemory;
    case SQLITE_FULL:
      return oru::rc::OutOfSpace;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return oru::rc::Locked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return oru::rc::BasesCorrupted;
    default:
      return oru::rc::UnspecifiedError;
  }
}

template <class E>
[[noreturn]] void Throw(int code, std::string_view function, const char* file, int line) {
  std::string message = "[";
  message += function;
  message += "] failed expression. Sqlite ";
  message += (code & 0xFF00) ? "extended" : "primary";
  message += " error: ";
  message += std::to_string(code);
  message += ". Sqlite error desciption: ";
  message += sqlite3_errstr(code);
  E exception(ResultOf(code), std::move(message), file, line);
  exception.SetProperty("sqlite_code", static_cast<std::int64_t>(code));
  ThrowNested(std::move(exception));
}

}  // namespace

void ThrowSqliteError(int code, std::string_view function, const char* file, int line) {
  if (IsCorruptResult(code)) Throw<sqlite_corrupt_exception>(code, function, file, line);
  Throw<sqlite_exception>(code, function, file, line);
}

}  // namespace sendara::base::storages
