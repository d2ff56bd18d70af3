#include "foundation/RegistrySqlite.h"

#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"

namespace terbin::registry {

bool succeeded(int rc) {
    return rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW;
}

bool isBusy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

uint32_t resultOf(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return TB_OK;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return TB_BUSY;
        case SQLITE_FULL:
            return TB_DISK_FULL;
        case SQLITE_NOMEM:
            return TB_NOT_ENOUGH_MEMORY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_CANTOPEN:
            return TB_ACCESS_DENIED;
        case SQLITE_CONSTRAINT:
            // The only constraint a well-formed change can break is a vanished key.
            return rc == SQLITE_CONSTRAINT_FOREIGNKEY ? TB_KEY_DELETED : TB_GEN_FAILURE;
        default:
            return TB_GEN_FAILURE;
    }
}

int execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

int queryInteger(sqlite3* db, const char* sql, int64_t& value) {
    Statement query(db, sql);
    const int rc = query.step();
    if (rc == SQLITE_ROW)
        value = query.integer(0);
    return rc;
}

Statement::Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, int64_t number) {
    if (rc_ == SQLITE_OK)
        rc_ = sqlite3_bind_int64(stmt_, index, number);
    return *this;
}

Statement& Statement::bind(int index, const std::string& text) {
    if (rc_ == SQLITE_OK) {
        rc_ = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::bindBlob(int index, const void* data, size_t size) {
    // A null pointer would bind SQL NULL; an empty block must stay a blob.
    static const char nothing = 0;
    if (rc_ == SQLITE_OK) {
        rc_ = sqlite3_bind_blob64(stmt_, index, size ? data : &nothing, size, SQLITE_TRANSIENT);
    }
    return *this;
}

int Statement::step() {
    if (rc_ != SQLITE_OK)
        return rc_;
    const int rc = sqlite3_step(stmt_);
    if (!succeeded(rc))
        rc_ = rc;
    return rc;
}

int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

const void* Statement::blob(int column) const {
    return sqlite3_column_blob(stmt_, column);
}

size_t Statement::bytes(int column) const {
    return static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
}

}  // namespace terbin::registry
