// The registry store's use of SQLite: one prepared statement at a time, and
// SQLite's result codes as the foundation's. Internal to the registry; include
// it only from the registry's own sources.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace terbin::registry {

// True for SQLITE_OK, SQLITE_ROW and SQLITE_DONE.
bool succeeded(int rc);

// True when another connection held the store (SQLITE_BUSY, SQLITE_LOCKED,
// extended codes included).
bool isBusy(int rc);

// The result code for an SQLite result: TB_OK for success, TB_BUSY,
// TB_DISK_FULL, TB_NOT_ENOUGH_MEMORY, TB_ACCESS_DENIED, TB_KEY_DELETED for a
// change to a key that is gone, else TB_GEN_FAILURE.
uint32_t resultOf(int rc);

// Runs one or more statements that return no rows; the SQLite result.
int execute(sqlite3* db, const char* sql);

// SQLITE_ROW when the one-row query `sql` gave its first column in `value`;
// otherwise the step's result, and `value` is untouched.
int queryInteger(sqlite3* db, const char* sql, int64_t& value);

// One prepared statement; the first failure (preparing, binding or stepping)
// sticks and is what step() reports from then on.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1. Text and blobs are copied.
    Statement& bind(int index, int64_t number);
    Statement& bind(int index, const std::string& text);
    // Binds a blob even for an empty block (never SQL NULL).
    Statement& bindBlob(int index, const void* data, size_t size);

    // SQLITE_ROW while rows come, SQLITE_DONE at the end, else the failure.
    int step();

    // Columns of the current row, counting from 0. blob() must be asked
    // before bytes() of the same column, as SQLite requires.
    int64_t integer(int column) const;
    std::string text(int column) const;
    const void* blob(int column) const;
    size_t bytes(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

}  // namespace terbin::registry
