#include "foundation/TBRegistry.h"

#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "foundation/SystemInterface.h"
#include "foundation/TBResult.h"

namespace terbin {

// Layout of a store file:
//   keys(id, parent, folded, name)   the root key is id 1 with no parent
//   vals(key, folded, name, type, data)
// Names are kept as UTF-8 text (TBString::narrow, so escaped raw bytes come
// back as themselves); `folded` is the case-folded name that lookups use.
// Value data is the TBValue's bytes exactly, so wide texts round-trip
// whatever they hold. application_id and user_version mark a file as ours.
namespace {

constexpr int StoreApplicationId = 0x554C5652;  // "ULVR"
constexpr int StoreLayoutVersion = 1;
constexpr int BusyTimeoutMs = 10000;
constexpr int64_t RootKeyId = 1;

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

bool succeeded(int rc) {
    return rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW;
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

// One prepared statement; the first failure (preparing, binding or stepping)
// sticks and is what step() reports from then on.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, int64_t number) {
        if (rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_int64(stmt_, index, number);
        return *this;
    }
    Statement& bind(int index, const std::string& text) {
        if (rc_ == SQLITE_OK) {
            rc_ = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                    SQLITE_TRANSIENT);
        }
        return *this;
    }
    Statement& bindBlob(int index, const void* data, size_t size) {
        // A null pointer would bind SQL NULL; an empty block must stay a blob.
        static const char nothing = 0;
        if (rc_ == SQLITE_OK) {
            rc_ = sqlite3_bind_blob64(stmt_, index, size ? data : &nothing, size, SQLITE_TRANSIENT);
        }
        return *this;
    }

    // SQLITE_ROW while rows come, SQLITE_DONE at the end, else the failure.
    int step() {
        if (rc_ != SQLITE_OK)
            return rc_;
        const int rc = sqlite3_step(stmt_);
        if (!succeeded(rc))
            rc_ = rc;
        return rc;
    }

    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }
    const void* blob(int column) const { return sqlite3_column_blob(stmt_, column); }
    size_t bytes(int column) const {
        return static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

int execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// The integer a one-row query yields; false when the query fails.
// SQLITE_ROW when `value` was read; otherwise the step's result.
int queryInteger(sqlite3* db, const char* sql, int64_t& value) {
    Statement query(db, sql);
    const int rc = query.step();
    if (rc == SQLITE_ROW)
        value = query.integer(0);
    return rc;
}

bool isBusy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
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

}  // namespace

// One connection to a hive's store, and the state of its caller-held transaction.
class TBRegistryStore {
public:
    // Opens the store of `hive`; with `create` a missing store file (and its
    // folder) is made and a blank one laid out. Null when the store is
    // missing or cannot be used; `result` says why.
    static std::shared_ptr<TBRegistryStore> open(int hive, bool create, uint32_t& result);
    // One try of open; `again` says whether another try may succeed.
    static std::shared_ptr<TBRegistryStore> tryOpen(int hive, bool create, uint32_t& result,
                                                    bool& again);

    ~TBRegistryStore() { sqlite3_close_v2(db_); }
    TBRegistryStore(const TBRegistryStore&) = delete;
    TBRegistryStore& operator=(const TBRegistryStore&) = delete;

    sqlite3* db() const { return db_; }

    // Runs `body` (which returns an SQLite code) as one change: its own
    // transaction, or as part of the caller's. A failure inside the caller's
    // transaction rolls all of it back at once and fails what follows.
    template <typename Body>
    uint32_t change(Body&& body);

    bool inTransaction() const { return transaction_ != Transaction::None; }
    uint32_t begin();
    // Commits (or, with `keep` false, rolls back) the caller's transaction.
    uint32_t end(bool keep);

    // The key at `parts` below `from`; 0 when it does not exist (or on failure).
    int64_t find(int64_t from, const std::vector<std::string>& parts, int& rc);
    // The same, creating what is missing; call inside a transaction.
    int64_t findOrCreate(int64_t from, const std::vector<std::string>& display,
                         const std::vector<std::string>& folded, int& rc);

private:
    explicit TBRegistryStore(sqlite3* db) : db_(db) {}

    enum class Transaction { None, Active, Failed };

    sqlite3* db_;
    Transaction transaction_ = Transaction::None;
    uint32_t failure_ = TB_OK;
};

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

template <typename Body>
uint32_t TBRegistryStore::change(Body&& body) {
    switch (transaction_) {
        case Transaction::Failed:
            return tb_status_fail(failure_);
        case Transaction::Active: {
            // SQLite ends a transaction by itself after some I/O errors; what
            // follows must not quietly commit on its own.
            int rc = sqlite3_get_autocommit(db_) ? SQLITE_ERROR : body();
            if (succeeded(rc))
                return TB_OK;
            execute(db_, "ROLLBACK");
            transaction_ = Transaction::Failed;
            failure_ = resultOf(rc);
            return tb_status_fail(failure_);
        }
        case Transaction::None:
            break;
    }
    int rc = execute(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return tb_status_fail(resultOf(rc));
    rc = body();
    if (succeeded(rc))
        rc = execute(db_, "COMMIT");
    if (rc != SQLITE_OK) {
        execute(db_, "ROLLBACK");
        return tb_status_fail(resultOf(rc));
    }
    return TB_OK;
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

// ---- TBValue ---------------------------------------------------------------

TBValue::TBValue(const TBString& text) {
    setString(text);
}

TBValue::TBValue(int32_t number) {
    setInt32(number);
}

TBValue::TBValue(RegValueType type, const void* data, size_t size) {
    set(type, data, size);
}

void TBValue::set(RegValueType type, const void* data, size_t size) {
    type_ = type;
    const auto* p = static_cast<const unsigned char*>(data);
    if (p) {
        bytes_.assign(p, p + size);
    } else {
        bytes_.clear();
    }
}

void TBValue::setString(const TBString& text) {
    // Stored with its terminating NUL, as registry strings are.
    set(RegString, text.c_str(), (static_cast<size_t>(text.length()) + 1) * sizeof(wchar_t));
}

void TBValue::setInt32(int32_t number) {
    set(RegDWord, &number, sizeof number);
}

TBString TBValue::toString() const {
    switch (type_) {
        case RegString:
        case RegMultiString: {
            std::wstring text(bytes_.size() / sizeof(wchar_t), L'\0');
            std::memcpy(text.data(), bytes_.data(), text.size() * sizeof(wchar_t));
            const size_t nul = text.find(L'\0');
            if (nul != std::wstring::npos)
                text.resize(nul);
            return TBString(std::move(text));
        }
        case RegDWord:
            return TBString::valueOf(toInt32());
        default:
            return {};
    }
}

int32_t TBValue::toInt32() const {
    switch (type_) {
        case RegDWord: {
            int32_t number = 0;
            if (bytes_.size() >= sizeof number)
                std::memcpy(&number, bytes_.data(), sizeof number);
            return number;
        }
        case RegString:
            return toString().toInt32();
        default:
            return 0;
    }
}

TBRegistryValue::TBRegistryValue(const TBString& name, const TBString& text)
    : TBValue(text), name_(name) {}

TBRegistryValue::TBRegistryValue(const TBString& name, int32_t number)
    : TBValue(number), name_(name) {}

TBRegistryValue::TBRegistryValue(const TBString& name, RegValueType type, const void* data,
                                 size_t size)
    : TBValue(type, data, size), name_(name) {}

// ---- TBMultiString ---------------------------------------------------------

TBMultiString::TBMultiString(const TBStringArray& entries) {
    for (const auto& entry : entries) {
        block_.insert(block_.end(), entry.str().begin(), entry.str().end());
        block_.push_back(L'\0');
    }
    block_.push_back(L'\0');
}

TBMultiString::TBMultiString(const TBValue& value) : block_(value.size() / sizeof(wchar_t)) {
    std::memcpy(block_.data(), value.data(), block_.size() * sizeof(wchar_t));
}

int TBMultiString::toStringArray(TBStringArray& entries) const {
    entries.clear();
    size_t end = block_.size();
    if (end > 0 && block_[end - 1] == L'\0')
        --end;  // the NUL that closes the block
    size_t start = 0;
    for (size_t i = 0; i < end; ++i) {
        if (block_[i] == L'\0') {
            entries.add(TBString(block_.data() + start, i - start));
            start = i + 1;
        }
    }
    if (start < end)
        entries.add(TBString(block_.data() + start, end - start));
    return entries.size();
}

// ---- TBRegistryKey ---------------------------------------------------------

namespace {

// Opens the key at `path` below `from` on `store`; 0 (with the failure set)
// when it does not exist and may not or cannot be made.
int64_t openKey(TBRegistryStore& store, int64_t from, const TBString& path, bool create) {
    const auto folded = componentsOf(path, true);
    int rc = SQLITE_OK;
    int64_t id = store.find(from, folded, rc);
    if (id != 0)
        return id;
    if (!create) {
        tb_status_fail(TB_FILE_NOT_FOUND);
        return 0;
    }
    // Looked up again inside the write transaction: another writer may have
    // made the key meanwhile.
    const auto display = componentsOf(path, false);
    const uint32_t result = store.change([&] {
        id = store.findOrCreate(from, display, folded, rc);
        return rc;
    });
    return result == TB_OK ? id : 0;
}

}  // namespace

TBRegistryKey::TBRegistryKey(int hive, const TBString& path, bool create) {
    uint32_t result = TB_OK;
    auto store = TBRegistryStore::open(hive, create, result);
    if (!store) {
        tb_status_fail(result);
        return;
    }
    id_ = openKey(*store, RootKeyId, path, create);
    if (id_ != 0)
        store_ = std::move(store);
}

TBRegistryKey::TBRegistryKey(TBRegistryKey& parent, const TBString& path, bool create) {
    if (!parent.store_) {
        tb_status_fail(TB_FILE_NOT_FOUND);
        return;
    }
    id_ = openKey(*parent.store_, parent.id_, path, create);
    if (id_ != 0)
        store_ = parent.store_;
}

TBRegistryKey::~TBRegistryKey() = default;

uint32_t TBRegistryKey::setValue(const TBRegistryValue& value) {
    if (!store_)
        return tb_status_fail(TB_FILE_NOT_FOUND);
    return store_->change([&] {
        Statement upsert(store_->db(),
                         "INSERT INTO vals(key, folded, name, type, data) VALUES(?, ?, ?, ?, ?)"
                         " ON CONFLICT(key, folded) DO UPDATE SET name = excluded.name,"
                         " type = excluded.type, data = excluded.data");
        return upsert.bind(1, id_)
            .bind(2, foldedName(value.getName()))
            .bind(3, value.getName().narrow())
            .bind(4, static_cast<int64_t>(value.getType()))
            .bindBlob(5, value.data(), value.size())
            .step();
    });
}

uint32_t TBRegistryKey::getValue(const TBString& name, TBValue& value) {
    if (!store_)
        return tb_status_fail(TB_FILE_NOT_FOUND);
    Statement query(store_->db(), "SELECT type, data FROM vals WHERE key = ? AND folded = ?");
    const int rc = query.bind(1, id_).bind(2, foldedName(name)).step();
    if (rc == SQLITE_DONE)
        return tb_status_fail(TB_FILE_NOT_FOUND);
    if (rc != SQLITE_ROW)
        return tb_status_fail(resultOf(rc));
    const void* data = query.blob(1);  // before its size, as SQLite asks
    value.set(static_cast<RegValueType>(query.integer(0)), data, query.bytes(1));
    return TB_OK;
}

uint32_t TBRegistryKey::removeValue(const TBString& name) {
    if (!store_)
        return tb_status_fail(TB_FILE_NOT_FOUND);
    int removed = 0;
    const uint32_t result = store_->change([&] {
        Statement remove(store_->db(), "DELETE FROM vals WHERE key = ? AND folded = ?");
        const int rc = remove.bind(1, id_).bind(2, foldedName(name)).step();
        removed = sqlite3_changes(store_->db());
        return rc;
    });
    if (result != TB_OK)
        return result;
    return removed > 0 ? TB_OK : tb_status_fail(TB_FILE_NOT_FOUND);
}

uint32_t TBRegistryKey::keyNames(TBStringArray& names) {
    names.clear();
    if (!store_)
        return tb_status_fail(TB_FILE_NOT_FOUND);
    // A new key's id is above every existing one, so ids keep the order of creation.
    Statement query(store_->db(), "SELECT name FROM keys WHERE parent = ? ORDER BY id");
    query.bind(1, id_);
    int rc = SQLITE_OK;
    while ((rc = query.step()) == SQLITE_ROW) names.add(TBString::fromBytes(query.text(0)));
    if (rc == SQLITE_DONE)
        return TB_OK;
    names.clear();
    return tb_status_fail(resultOf(rc));
}

bool TBRegistryKey::keyExists(const TBString& name) {
    if (!store_)
        return false;
    int rc = SQLITE_OK;
    return store_->find(id_, componentsOf(name, true), rc) != 0;
}

// ---- TBRegistryTransaction -------------------------------------------------

TBRegistryTransaction::TBRegistryTransaction(TBRegistryKey& key) {
    if (!key.store_) {
        result_ = tb_status_fail(TB_FILE_NOT_FOUND);
    } else if (key.store_->inTransaction()) {
        result_ = tb_status_fail(TB_INVALID_PARAMETER);
    } else {
        store_ = key.store_;
        result_ = store_->begin();
    }
}

TBRegistryTransaction::~TBRegistryTransaction() {
    if (store_)
        store_->end(false);
}

uint32_t TBRegistryTransaction::commit() {
    if (!store_)
        return tb_status_fail(result_ != TB_OK ? result_ : TB_INVALID_PARAMETER);
    result_ = store_->end(true);
    store_.reset();
    return result_;
}

// ---- Free functions --------------------------------------------------------

uint32_t tb_registry_removeKey(int hive, const TBString& path) {
    const auto folded = componentsOf(path, true);
    if (folded.empty())
        return tb_status_fail(TB_INVALID_PARAMETER);
    uint32_t result = TB_OK;
    auto store = TBRegistryStore::open(hive, false, result);
    if (!store)
        return tb_status_fail(result);
    bool found = false;
    result = store->change([&] {
        int rc = SQLITE_OK;
        const int64_t id = store->find(RootKeyId, folded, rc);
        if (id == 0)
            return rc == SQLITE_DONE ? SQLITE_OK : rc;
        found = true;
        // Values first: a value may not outlive its key, not even within one statement.
        static const char* const removals[] = {
            "WITH RECURSIVE tree(id) AS (SELECT ? UNION ALL"
            " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
            " DELETE FROM vals WHERE key IN tree",
            "WITH RECURSIVE tree(id) AS (SELECT ? UNION ALL"
            " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
            " DELETE FROM keys WHERE id IN tree",
        };
        for (const char* sql : removals) {
            Statement remove(store->db(), sql);
            rc = remove.bind(1, id).step();
            if (rc != SQLITE_DONE)
                return rc;
        }
        return SQLITE_OK;
    });
    if (result != TB_OK)
        return result;
    return found ? TB_OK : tb_status_fail(TB_FILE_NOT_FOUND);
}

TBString tb_registry_storePath(int hive) {
    return TBString::fromBytes(storeFileOf(hive));
}

}  // namespace terbin
