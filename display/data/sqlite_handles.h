// SQLite's connection and statement handles, closed and finalized with
// their owners.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace veltaro::data {

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct DatabaseDeleter {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseDeleter>;

} // namespace veltaro::data
