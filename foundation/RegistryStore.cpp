#include "foundation/RegistryStore.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "foundation/SystemInterface.h"
#include "foundation/TBRegistry.h"

namespace terbin {

using registry::execute;
using registry::isBusy;
using registry::queryInteger;
using registry::resultOf;
using registry::RootKeyId;
using registry::Statement;

namespace {

constexpr int StoreApplicationId = 0x554C5652;  // "ULVR"
constexpr int StoreLayoutVersion = 1;
constexpr int BusyTimeoutMs = 10000;

std::string createLayoutSql() {
    return "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER REFERENCES keys(id),"
           " folded TEXT NOT NULL, name TEXT NOT NULL, UNIQUE(parent, folded));"
           "CREATE TABLE vals(key INTEGER NOT NULL REFERENCES keys(id), folded TEXT NOT NULL,"
           " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
           " PRIMARY KEY(key, folded));"
           "INSERT INTO keys(id, parent, folded, name) VALUES(" +
           std::to_string(RootKeyId) + ", NULL, '', '');" +
           "PRAGMA application_id = " + std::to_string(StoreApplicationId) + ";" +
           "PRAGMA user_version = " + std::to_string(StoreLayoutVersion) + ";";
}

std::string storeFileOf(int hive) {
    if (hive != TBHiveCurrentUser)
        return {};
    const char* chosen = std::getenv("ULVAREN_REGISTRY");
    if (chosen && *chosen)
        return chosen;
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/ulvaren/registry.db";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else {
        long size = sysconf(_SC_GETPW_R_SIZE_MAX);
        std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            home = found->pw_dir;
        }
    }
    if (home.empty())
        return {};
    return home + "/.config/ulvaren/registry.db";
}

// Creates the folder of `file` and any missing folder above it, each for its
// owner alone.
void makeFolderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    const std::string folder = file.substr(0, slash);
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        tb_system().mkdir(part.c_str(), 0700);  // an existing folder is fine
        if (end == std::string::npos)
            break;
    }
}

// Busy: another connection is laying the store out or holds it; look again.
enum class Layout { Ours, Blank, Foreign, Busy };

// Looks at the store without writing: only a database made by this class, or
// an empty one that holds nothing at all, may be used.
Layout readLayout(sqlite3* db) {
    int64_t application = 0;
    int64_t version = 0;
    int64_t objects = 0;
    for (const auto& [sql, value] : {std::pair{"SELECT count(*) FROM sqlite_schema", &objects},
                                     std::pair{"PRAGMA application_id", &application},
                                     std::pair{"PRAGMA user_version", &version}}) {
        const int rc = queryInteger(db, sql, *value);
        if (rc != SQLITE_ROW)
            return isBusy(rc) ? Layout::Busy : Layout::Foreign;
    }
    if (application == 0 && version == 0 && objects == 0)
        return Layout::Blank;
    if (application != StoreApplicationId || version != StoreLayoutVersion)
        return Layout::Foreign;
    Statement keys(db, "SELECT id, parent, folded, name FROM keys WHERE id = ?");
    if (keys.bind(1, RootKeyId).step() != SQLITE_ROW)
        return Layout::Foreign;
    Statement vals(db, "SELECT key, folded, name, type, data FROM vals LIMIT 0");
    return vals.step() == SQLITE_DONE ? Layout::Ours : Layout::Foreign;
}

// The layout as one snapshot shows it. The snapshot begins with a read of the
// schema table, which also brings this connection's picture of the tables up
// to date: another process may have laid the store out since it was opened.
Layout layoutOf(sqlite3* db) {
    const int rc = execute(db, "SAVEPOINT layout");
    if (rc != SQLITE_OK)
        return isBusy(rc) ? Layout::Busy : Layout::Foreign;
    const Layout layout = readLayout(db);
    execute(db, "RELEASE layout");
    return layout;
}

// True when the file SQLite has opened begins as an SQLite database or is
// empty. Read through SQLite's own handle: opening and closing a second
// descriptor would drop the POSIX locks other connections of this process
// hold on the file.
bool looksLikeDatabase(sqlite3* db) {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods) {
        return false;
    }
    sqlite3_int64 size = 0;
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK)
        return false;
    if (size == 0)
        return true;
    static const char magic[16] = "SQLite format 3";
    char header[sizeof magic] = {};
    if (size < static_cast<sqlite3_int64>(sizeof magic) ||
        file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK) {
        return false;
    }
    return std::memcmp(header, magic, sizeof magic) == 0;
}

}  // namespace

namespace registry {

std::vector<std::string> componentsOf(const TBString& path, bool folded) {
    std::vector<std::string> parts;
    const TBString text = folded ? path.foldCase() : path;
    int start = 0;
    while (start <= text.length()) {
        int end = text.first(L'/', start);
        if (end < 0)
            end = text.length();
        if (end > start)
            parts.push_back(text.mid(start, end - start).narrow());
        start = end + 1;
    }
    return parts;
}

std::string foldedName(const TBString& name) {
    return name.foldCase().narrow();
}

}  // namespace registry

TBRegistryStore::~TBRegistryStore() {
    sqlite3_close_v2(db_);
}

std::shared_ptr<TBRegistryStore> TBRegistryStore::open(int hive, bool create, uint32_t& result) {
    // Two processes that make the store at the same moment can trip over
    // each other's first steps; the loser looks again once the winner is done.
    for (int attempt = 0;; ++attempt) {
        bool again = false;
        auto store = tryOpen(hive, create, result, again);
        if (store || !again || attempt == 50)
            return store;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::shared_ptr<TBRegistryStore> TBRegistryStore::tryOpen(int hive, bool create, uint32_t& result,
                                                          bool& again) {
    result = TB_FILE_NOT_FOUND;
    const std::string file = storeFileOf(hive);
    if (file.empty()) {
        result = TB_INVALID_PARAMETER;
        return nullptr;
    }
    // Never SQLITE_OPEN_CREATE on the first try: an existing file is opened
    // as it is, and only a missing one is made.
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    bool made = false;
    if (rc == SQLITE_CANTOPEN && create) {
        sqlite3_close_v2(db);
        db = nullptr;
        makeFolderOf(file);
        rc =
            sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        made = true;
    }
    std::shared_ptr<TBRegistryStore> store(new TBRegistryStore(db));
    if (rc != SQLITE_OK) {
        if (rc != SQLITE_CANTOPEN)
            result = resultOf(rc);
        return nullptr;
    }
    if (!looksLikeDatabase(db))
        return nullptr;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    // A second process may find the store while the first is still laying
    // it out; some of those moments answer "busy" without waiting.
    Layout layout = layoutOf(db);
    for (int waited = 0; layout == Layout::Busy && waited < BusyTimeoutMs; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        layout = layoutOf(db);
    }
    if (layout == Layout::Busy) {
        result = TB_BUSY;
        return nullptr;
    }
    if (layout == Layout::Blank) {
        if (!create)
            return nullptr;
        if (made) {
            // Before the journal files exist: SQLite gives them the database's mode.
            tb_system().chmod(file.c_str(), 0600);
        }
        // journal_mode cannot change inside a transaction; it sticks to the file.
        execute(db, "PRAGMA journal_mode = WAL");
        rc = execute(db, "BEGIN IMMEDIATE");
        if (rc != SQLITE_OK) {
            result = resultOf(rc);
            return nullptr;
        }
        // Another process may have laid the store out meanwhile. This
        // connection's picture of the tables predates that, so a fresh one
        // takes the look.
        if (layoutOf(db) != Layout::Blank) {
            execute(db, "ROLLBACK");
            again = true;
            return nullptr;
        }
        rc = execute(db, createLayoutSql().c_str());
        if (rc == SQLITE_OK)
            rc = execute(db, "COMMIT");
        if (rc != SQLITE_OK) {
            execute(db, "ROLLBACK");
            result = resultOf(rc);
            again = isBusy(rc) || (rc & 0xff) == SQLITE_READONLY;
            return nullptr;
        }
        layout = Layout::Ours;
    }
    if (layout != Layout::Ours)
        return nullptr;
    execute(db, "PRAGMA foreign_keys = ON");
    execute(db, "PRAGMA synchronous = FULL");
    result = TB_OK;
    return store;
}

uint32_t TBRegistryStore::begin() {
    const int rc = execute(db_, "BEGIN IMMEDIATE");
    if (rc == SQLITE_OK) {
        transaction_ = Transaction::Active;
        return TB_OK;
    }
    transaction_ = Transaction::Failed;
    failure_ = resultOf(rc);
    return tb_status_fail(failure_);
}

uint32_t TBRegistryStore::end(bool keep) {
    const Transaction state = std::exchange(transaction_, Transaction::None);
    if (state == Transaction::Failed)
        return tb_status_fail(failure_);
    if (keep && !sqlite3_get_autocommit(db_)) {
        const int rc = execute(db_, "COMMIT");
        if (rc == SQLITE_OK)
            return TB_OK;
        execute(db_, "ROLLBACK");
        return tb_status_fail(resultOf(rc));
    }
    execute(db_, "ROLLBACK");
    return keep ? tb_status_fail(TB_GEN_FAILURE) : TB_OK;
}

int64_t TBRegistryStore::find(int64_t from, const std::vector<std::string>& parts, int& rc) {
    rc = SQLITE_OK;
    int64_t id = from;
    for (const auto& part : parts) {
        Statement query(db_, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
        rc = query.bind(1, id).bind(2, part).step();
        if (rc != SQLITE_ROW)
            return 0;
        id = query.integer(0);
    }
    if (parts.empty()) {
        // The starting key itself may have been removed by someone else.
        Statement query(db_, "SELECT id FROM keys WHERE id = ?");
        rc = query.bind(1, id).step();
        if (rc != SQLITE_ROW)
            return 0;
    }
    rc = SQLITE_OK;
    return id;
}

int64_t TBRegistryStore::findOrCreate(int64_t from, const std::vector<std::string>& display,
                                      const std::vector<std::string>& folded, int& rc) {
    int64_t id = find(from, {}, rc);
    if (id == 0) {
        if (rc == SQLITE_DONE)
            rc = SQLITE_CONSTRAINT_FOREIGNKEY;
        return 0;
    }
    for (size_t i = 0; i < folded.size(); ++i) {
        Statement query(db_, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
        rc = query.bind(1, id).bind(2, folded[i]).step();
        if (rc == SQLITE_ROW) {
            id = query.integer(0);
            continue;
        }
        if (rc != SQLITE_DONE)
            return 0;
        Statement insert(db_, "INSERT INTO keys(parent, folded, name) VALUES(?, ?, ?)");
        rc = insert.bind(1, id).bind(2, folded[i]).bind(3, display[i]).step();
        if (rc != SQLITE_DONE)
            return 0;
        id = sqlite3_last_insert_rowid(db_);
    }
    rc = SQLITE_OK;
    return id;
}

TBString tb_registry_storePath(int hive) {
    return TBString::fromBytes(storeFileOf(hive));
}

}  // namespace terbin
