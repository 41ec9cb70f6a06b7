// Reading an SQLite database in tests: every row of a query as texts.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace harness {

using SqlRows = std::vector<std::vector<std::string>>;

// NULL reads as "NULL". Opened read-only, so the test sees what another
// program would.
inline SqlRows query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path);
    }
    SqlRows rows;
    char* error = nullptr;
    const auto collect = [](void* out, int columns, char** values, char**) {
        auto& result = *static_cast<SqlRows*>(out);
        result.emplace_back();
        for (int i = 0; i < columns; ++i) {
            result.back().emplace_back(values[i] != nullptr ? values[i] : "NULL");
        }
        return 0;
    };
    const int status = sqlite3_exec(db, sql.c_str(), collect, &rows, &error);
    const std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (status != SQLITE_OK) {
        throw std::runtime_error(sql + ": " + message);
    }
    return rows;
}

// A single value.
inline std::string query_value(const std::string& path, const std::string& sql) {
    const SqlRows rows = query(path, sql);
    return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

} // namespace harness
