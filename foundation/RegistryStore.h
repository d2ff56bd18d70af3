// One connection to a hive's store file: finding the file, opening it (and,
// for a first write, making and laying it out), and the transactions that
// every change runs in. Internal to the registry; TBRegistry.h is the public
// face.
//
// Layout of a store file:
//   keys(id, parent, folded, name)   the root key is id 1 with no parent
//   vals(key, folded, name, type, data)
// Names are kept as UTF-8 text (TBString::narrow, so escaped raw bytes come
// back as themselves); `folded` is the case-folded name that lookups use.
// Value data is the TBValue's bytes exactly, so wide texts round-trip
// whatever they hold. application_id and user_version mark a file as ours.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/RegistrySqlite.h"
#include "foundation/TBResult.h"
#include "foundation/TBString.h"

namespace terbin {

namespace registry {

// The id of every store's root key.
constexpr int64_t RootKeyId = 1;

// The non-empty "/"-separated components of a key path, as stored: folded
// for lookups, or as spelled for a key's name.
std::vector<std::string> componentsOf(const TBString& path, bool folded);

// A value name as lookups compare it.
std::string foldedName(const TBString& name);

}  // namespace registry

// One connection to a hive's store, and the state of its caller-held transaction.
class TBRegistryStore {
public:
    // Opens the store of `hive`; with `create` a missing store file (and its
    // folder) is made and a blank one laid out. Null when the store is
    // missing or cannot be used; `result` says why.
    static std::shared_ptr<TBRegistryStore> open(int hive, bool create, uint32_t& result);

    ~TBRegistryStore();
    TBRegistryStore(const TBRegistryStore&) = delete;
    TBRegistryStore& operator=(const TBRegistryStore&) = delete;

    sqlite3* db() const { return db_; }

    // Runs `body` (which returns an SQLite code) as one change: its own
    // transaction, or as part of the caller's. A failure inside the caller's
    // transaction rolls all of it back at once and fails what follows.
    // 0 or the failure's result code, which is also the last error.
    template <typename Body>
    uint32_t change(Body&& body);

    bool inTransaction() const { return transaction_ != Transaction::None; }
    // Begins the caller's transaction; 0 or the result code of the failure.
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

    // One try of open; `again` says whether another try may succeed.
    static std::shared_ptr<TBRegistryStore> tryOpen(int hive, bool create, uint32_t& result,
                                                    bool& again);

    enum class Transaction { None, Active, Failed };

    sqlite3* db_;
    Transaction transaction_ = Transaction::None;
    uint32_t failure_ = TB_OK;
};

template <typename Body>
uint32_t TBRegistryStore::change(Body&& body) {
    switch (transaction_) {
        case Transaction::Failed:
            return tb_status_fail(failure_);
        case Transaction::Active: {
            // SQLite ends a transaction by itself after some I/O errors; what
            // follows must not quietly commit on its own.
            int rc = sqlite3_get_autocommit(db_) ? SQLITE_ERROR : body();
            if (registry::succeeded(rc))
                return TB_OK;
            registry::execute(db_, "ROLLBACK");
            transaction_ = Transaction::Failed;
            failure_ = registry::resultOf(rc);
            return tb_status_fail(failure_);
        }
        case Transaction::None:
            break;
    }
    int rc = registry::execute(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return tb_status_fail(registry::resultOf(rc));
    rc = body();
    if (registry::succeeded(rc))
        rc = registry::execute(db_, "COMMIT");
    if (rc != SQLITE_OK) {
        registry::execute(db_, "ROLLBACK");
        return tb_status_fail(registry::resultOf(rc));
    }
    return TB_OK;
}

}  // namespace terbin
