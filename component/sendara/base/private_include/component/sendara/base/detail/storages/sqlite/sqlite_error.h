#pragma once

#include <string_view>

namespace sendara::base::storages {

// Raises the exception for a failing SQLite result: sqlite_corrupt_exception
// for a corrupt file or one that is not a database, sqlite_exception for any
// other code. The message is "[" + function + "] failed expression. Sqlite
// primary|extended error: " + code + ". Sqlite error desciption: " + the
// library's text, and the property "sqlite_code" holds the code.
[[noreturn]] void ThrowSqliteError(int code, std::string_view function, const char* file, int line);

// True for the results that mean the file must be rebuilt.
constexpr bool IsCorruptResult(int code) noexcept {
  return (code & 0xFF) == 11 || (code & 0xFF) == 26;
}

}  // namespace sendara::base::storages

#define SENDARA_SQLITE_CHECK(code)                                                              \
  do {                                                                                          \
    const int sendaraSqliteCode_ = (code);                                                      \
    if (sendaraSqliteCode_ != 0) {                                                              \
      ::sendara::base::storages::ThrowSqliteError(sendaraSqliteCode_, SENDARA_FUNCTION_NAME, __FILE__, \
                                                  __LINE__);                                    \
    }                                                                                           \
  } while (0)
