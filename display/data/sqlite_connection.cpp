#include "display/data/sqlite_connection.h"

#include <stdexcept>

namespace veltaro::data {

SqliteConnection::SqliteConnection(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    db_.reset(db); // closed even when the open failed
    Check(opened);
}

void SqliteConnection::Check(int result) const {
    if (result != SQLITE_OK) {
        throw std::runtime_error(db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(result));
    }
}

void SqliteConnection::Execute(const char* sql) const {
    Check(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr));
}

void SqliteConnection::ExecuteQuietly(const char* sql) const {
    sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
}

Statement SqliteConnection::Prepare(const char* sql) const {
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr));
    return Statement(statement);
}

} // namespace veltaro::data
