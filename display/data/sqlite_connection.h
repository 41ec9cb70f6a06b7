// A connection to an SQLite database, closed with its owner, and its
// prepared statements, finalized with theirs. Every failure throws
// std::runtime_error with SQLite's description.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace veltaro::data {

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

class SqliteConnection {
public:
    // Opens path with SQLite's open flags.
    SqliteConnection(const std::string& path, int flags);

    sqlite3* get() const { return db_.get(); }

    // Throws unless result is SQLITE_OK.
    void Check(int result) const;
    void Execute(const char* sql) const;
    // For ending a transaction: a failure then has nothing more to lose.
    void ExecuteQuietly(const char* sql) const;
    Statement Prepare(const char* sql) const;

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, Closer> db_;
};

} // namespace veltaro::data
