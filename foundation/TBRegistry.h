// The registry: a tree of named keys, each holding named, typed values. Every
// hive is one SQLite database file; hive 2 (TBHiveCurrentUser, the current
// user's settings) lives in $ULVAREN_REGISTRY when that is set, else in
// $XDG_CONFIG_HOME/ulvaren/registry.db (~/.config/ulvaren/registry.db when
// XDG_CONFIG_HOME is unset or not absolute). The location is looked up afresh
// each time a key is opened.
//
// Key paths are key names joined by "/"; empty components are ignored, so ""
// is the hive's root key. Key and value names compare without regard to
// letter case (Unicode simple case folding) and keep the spelling they were
// written with.
//
// Every change is one transaction: a crash never leaves half of it behind,
// and several processes may use one store at once (a writer waits up to ten
// seconds for another one to finish). A store file that is not an SQLite
// database, or one that holds something other than a registry, is never
// written, truncated or deleted: every key in it behaves as a missing key.
// The first operation that creates a key makes a missing file (mode 0600)
// and its missing folders (mode 0700), and lays out an empty file; reading
// never creates anything.
//
// Result codes: 0 on success; TB_FILE_NOT_FOUND for a missing key or value
// and for every operation on a key that is not open; TB_KEY_DELETED when the
// open key was removed meanwhile; TB_BUSY when another writer held the store
// too long; TB_DISK_FULL, TB_ACCESS_DENIED, TB_NOT_ENOUGH_MEMORY or
// TB_GEN_FAILURE when the store could not be written. A failing operation
// also sets tb_status_getLastError().
//
// A key opened from a hive has a connection to the store of its own; a key
// opened below another key shares that key's connection, and a transaction
// covers every key of its connection. Keys sharing a connection, and their
// transaction, belong to one thread at a time, and to the process that opened
// them: a child made by fork() opens its own keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/TBString.h"
#include "foundation/TBStringArray.h"
#include "foundation/TBValue.h"

namespace terbin {

enum TBRegistryHive : int {
    TBHiveCurrentUser = 2,
};

// The open key was removed by someone else (Windows' ERROR_KEY_DELETED).
constexpr uint32_t TB_KEY_DELETED = 1018;

// A value with the name it is stored under.
class TBRegistryValue : public TBValue {
public:
    TBRegistryValue(const TBString& name, const TBString& text);
    TBRegistryValue(const TBString& name, int32_t number);
    TBRegistryValue(const TBString& name, RegValueType type, const void* data, size_t size);

    const TBString& getName() const { return name_; }

private:
    TBString name_;
};

// The data block of a RegMultiString value: each entry followed by a NUL, and
// one more NUL after the last, so an empty list is a single NUL. The block is
// read up to its size, not to the first double NUL, so empty entries survive.
class TBMultiString {
public:
    explicit TBMultiString(const TBStringArray& entries);
    // Takes the value's bytes as they are, whatever its type.
    explicit TBMultiString(const TBValue& value);

    const wchar_t* data() const { return block_.data(); }
    // Size of the block in bytes.
    size_t datasize() const { return block_.size() * sizeof(wchar_t); }
    // Replaces the contents of `entries` with the block's entries, in order;
    // returns their count. A last entry that lacks its NUL is kept.
    int toStringArray(TBStringArray& entries) const;

private:
    std::vector<wchar_t> block_;
};

class TBRegistryStore;

// An open key. Opening with `create` makes the key and every missing key
// above it, in one transaction (or in the connection's transaction when one
// is running); without it a missing key (or an unusable store) leaves the
// object closed, and every operation on it fails with TB_FILE_NOT_FOUND.
class TBRegistryKey {
public:
    // The key at `path` in `hive`, on a connection of its own.
    TBRegistryKey(int hive, const TBString& path, bool create);
    // The key at the relative `path` below `parent`, on the parent's
    // connection; closed when the parent is.
    TBRegistryKey(TBRegistryKey& parent, const TBString& path, bool create);
    ~TBRegistryKey();
    TBRegistryKey(const TBRegistryKey&) = delete;
    TBRegistryKey& operator=(const TBRegistryKey&) = delete;

    bool isOpen() const { return store_ != nullptr; }

    // Stores `value` under its name, replacing a value of the same name (the
    // new spelling of the name is kept).
    uint32_t setValue(const TBRegistryValue& value);
    // Fills `value` with the named value's type and data; leaves it untouched
    // and returns TB_FILE_NOT_FOUND when there is no such value.
    uint32_t getValue(const TBString& name, TBValue& value);
    uint32_t removeValue(const TBString& name);
    // Deletes the subkey at the relative path `name` with all its values and
    // subkeys, as one change (part of the connection's transaction when one
    // is running).
    uint32_t removeKey(const TBString& name);
    // Replaces the contents of `names` with the names of the direct subkeys,
    // in the order they were created (empty on failure).
    uint32_t keyNames(TBStringArray& names);
    // True when the subkey at the relative path `name` exists.
    bool keyExists(const TBString& name);

private:
    friend class TBRegistryTransaction;

    std::shared_ptr<TBRegistryStore> store_;
    int64_t id_ = 0;
};

// Makes every change made through the keys of one connection, from
// construction to commit(), a single atomic change: other connections and
// processes see all of it or none of it. Begins at construction, waiting (up
// to the store's ten seconds) for any other writer, and keeps every other
// connection's writes waiting until it ends, those of the same thread too.
// Once anything in it fails, every further change on the connection fails
// until it ends, and commit() reports the failure; nothing of it is kept. A
// second transaction on a connection that has one fails
// (TB_INVALID_PARAMETER), leaving the first alone.
class TBRegistryTransaction {
public:
    explicit TBRegistryTransaction(TBRegistryKey& key);
    // Rolls back unless committed.
    ~TBRegistryTransaction();
    TBRegistryTransaction(const TBRegistryTransaction&) = delete;
    TBRegistryTransaction& operator=(const TBRegistryTransaction&) = delete;

    // Makes the changes permanent; 0 on success. A transaction commits once.
    uint32_t commit();

private:
    std::shared_ptr<TBRegistryStore> store_;  // null unless this began the connection's transaction
    uint32_t result_ = 0;
};

// Deletes the key at `path` with all its values and subkeys, in one
// transaction. The root key of a hive cannot be deleted (TB_INVALID_PARAMETER).
uint32_t tb_registry_removeKey(int hive, const TBString& path);

// The database file that holds `hive` at this moment; empty for a hive that
// has no store.
TBString tb_registry_storePath(int hive);

}  // namespace terbin
