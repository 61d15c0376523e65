#pragma once

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace sendara::base::storages {

// An open database, closed when its last holder lets go. Closes use
// sqlite3_close_v2, which defers while statements of the handle are
// unfinalised; a handle closed early by a repair is never closed twice.
using SqliteHandle = std::shared_ptr<sqlite3>;

}  // namespace sendara::base::storages
