#include "foundation/TBRegistry.h"

#include <string>
#include <utility>
#include <vector>

#include "foundation/RegistryStore.h"
#include "foundation/TBResult.h"

namespace terbin {

using registry::componentsOf;
using registry::foldedName;
using registry::resultOf;
using registry::RootKeyId;
using registry::Statement;

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

namespace {

// Removes the key at the relative path `folded` below the key `parent`, with
// its whole branch, as one change of `store`.
uint32_t removeBranch(TBRegistryStore& store, int64_t parent,
                      const std::vector<std::string>& folded) {
    if (folded.empty())
        return tb_status_fail(TB_INVALID_PARAMETER);
    bool found = false;
    const uint32_t result = store.change([&] {
        int rc = SQLITE_OK;
        const int64_t id = store.find(parent, folded, rc);
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
            Statement remove(store.db(), sql);
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

}  // namespace

uint32_t TBRegistryKey::removeKey(const TBString& name) {
    if (!store_)
        return tb_status_fail(TB_FILE_NOT_FOUND);
    return removeBranch(*store_, id_, componentsOf(name, true));
}

uint32_t tb_registry_removeKey(int hive, const TBString& path) {
    const auto folded = componentsOf(path, true);
    if (folded.empty())
        return tb_status_fail(TB_INVALID_PARAMETER);
    uint32_t result = TB_OK;
    auto store = TBRegistryStore::open(hive, false, result);
    if (!store)
        return tb_status_fail(result);
    return removeBranch(*store, RootKeyId, folded);
}

}  // namespace terbin
