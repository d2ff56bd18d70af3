#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>

#include "backupset/BackupSet.h"
#include "backupset/BackupSetConfiguration.h"
#include "backupset/BackupSetFields.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"

using terbin::RegMultiString;
using terbin::TBHiveCurrentUser;
using terbin::TBMultiString;
using terbin::TBRegistryKey;
using terbin::TBRegistryTransaction;
using terbin::TBRegistryValue;
using terbin::TBString;
using terbin::TBStringArray;
using terbin::TBValue;

namespace {

// One writer per kind of setting, chosen by the field's type.
void writeValue(TBRegistryKey& key, const wchar_t* name, const TBString& text) {
    key.setValue(TBRegistryValue(name, text));
}

void writeValue(TBRegistryKey& key, const wchar_t* name, int32_t number) {
    key.setValue(TBRegistryValue(name, number));
}

void writeValue(TBRegistryKey& key, const wchar_t* name, const TBStringArray& list) {
    const TBMultiString block(list);
    key.setValue(TBRegistryValue(name, RegMultiString, block.data(), block.datasize()));
}

// A value that cannot be read leaves the field as it was: the holder still
// has the previous value's data, which belongs to another field.
void readValue(TBRegistryKey& key, const wchar_t* name, TBValue& holder, TBString& text) {
    if (key.getValue(name, holder) == terbin::TB_OK)
        text = holder.toString();
}

void readValue(TBRegistryKey& key, const wchar_t* name, TBValue& holder, int32_t& number) {
    if (key.getValue(name, holder) == terbin::TB_OK)
        number = holder.toInt32();
}

// A list stored with another type is not a list: the field keeps its entries.
void readValue(TBRegistryKey& key, const wchar_t* name, TBValue& holder, TBStringArray& list) {
    if (key.getValue(name, holder) == terbin::TB_OK && holder.getType() == RegMultiString) {
        TBMultiString(holder).toStringArray(list);
    }
}

// A key name under which saving cannot overwrite another set: `preferred`
// when no subkey of `sets` has that name, else the smallest free decimal
// name. The stored names need not be 1 to n (sets are removed, other versions
// wrote them), so a count of sets alone may name a key in use.
TBString freeKeyName(TBRegistryKey& sets, const TBString& preferred) {
    TBStringArray names;
    sets.keyNames(names);
    // Key names compare without regard to case; decimal names have none, so
    // folding the stored names is enough.
    std::unordered_set<TBString> taken;
    for (const TBString& name : names) taken.insert(name.foldCase());
    if (!preferred.isEmpty() && !taken.contains(preferred.foldCase()))
        return preferred;
    for (int64_t number = 0;; ++number) {
        TBString name = TBString::valueOf(number);
        if (!taken.contains(name))
            return name;
    }
}

// Writes the settings of `set` and `identity` to the subkey `keyName` of
// `sets`, making the subkey when it is missing.
void writeSettings(const BackupSet& set, const TBString& identity, TBRegistryKey& sets,
                   const TBString& keyName) {
    TBRegistryKey key(sets, keyName, true);
    forEachSetting([&](const auto& setting) { writeValue(key, setting.name, set.*setting.field); });
    key.setValue(TBRegistryValue(BackupSet::IdentityValueName, identity));
}

// The identity stored in the subkey `keyName` of `sets` (empty for a set
// stored before identities were kept); none when there is no such key.
std::optional<TBString> storedIdentity(TBRegistryKey& sets, const TBString& keyName) {
    TBRegistryKey key(sets, keyName, false);
    if (!key.isOpen())
        return std::nullopt;
    TBValue holder;
    TBString identity;
    readValue(key, BackupSet::IdentityValueName, holder, identity);
    return identity;
}

// 16 random hex digits: a set's identity, unlike its key name, is never
// given to another set.
TBString newIdentity() {
    std::random_device source;
    const uint64_t bits = (static_cast<uint64_t>(source()) << 32) | source();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return TBString::fromBytes(text);
}

}  // namespace

TBString BackupSet::setsKeyPath() {
    return BackupSetConfiguration::installed().getRegistryRoot() + L"/BackupSets";
}

TBString BackupSet::runLockPath(const TBString& keyName) {
    // Key names compare without regard to case, so the file is named after
    // the folded name; bytes that are not plain in a file name are spelled
    // out, so no key name can reach outside the lock folder.
    std::string name;
    for (const unsigned char c : keyName.foldCase().narrow()) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            name += static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789abcdef";
            name += '%';
            name += digits[c >> 4];
            name += digits[c & 15];
        }
    }
    const TBString store = terbin::tb_registry_storePath(TBHiveCurrentUser);
    if (store.isEmpty())
        return store;
    return store + L".locks/" + TBString::fromBytes(name) + L".lock";
}

TBString BackupSet::registryKeyPath(const TBString& keyName) {
    return setsKeyPath() + L"/" + keyName;
}

uint32_t BackupSet::save(const TBString& keyName) {
    // Saved again under its own key, the set may write only over itself.
    const bool again = !registryKeyName.isEmpty() && keyName == registryKeyName;
    const TBString identity =
        again && !registryIdentity.isEmpty() ? registryIdentity : newIdentity();
    // The set's own key is made inside the transaction too, so a save cut
    // short leaves no empty key behind for the catalogue to load as a set.
    // An empty "BackupSets" key, made beforehand, holds no set; a set saved
    // again needs its key, so it makes nothing.
    TBRegistryKey sets(TBHiveCurrentUser, setsKeyPath(), !again);
    if (!sets.isOpen()) {
        return again && ::tb_status_getLastError() == terbin::TB_FILE_NOT_FOUND
                   ? terbin::TB_KEY_DELETED
                   : ::tb_status_getLastError();
    }
    TBRegistryTransaction transaction(sets);
    if (again && storedIdentity(sets, keyName) != std::optional(registryIdentity))
        return terbin::TB_KEY_DELETED;
    writeSettings(*this, identity, sets, keyName);
    const uint32_t result = transaction.commit();
    if (result == terbin::TB_OK) {
        registryKeyName = keyName;
        registryIdentity = identity;
    }
    return result;
}

TBString BackupSet::saveNew(const TBString& preferred) {
    registryKeyName = TBString();
    registryIdentity = newIdentity();
    TBRegistryKey sets(TBHiveCurrentUser, setsKeyPath(), true);
    // The transaction holds the store for writing before the names are
    // read: another process creating a set waits for it to end, and then
    // finds this set's key taken. Choosing first and saving in a second
    // transaction would let both pick the same name, the later overwriting
    // the earlier.
    TBRegistryTransaction transaction(sets);
    const TBString keyName = freeKeyName(sets, preferred);
    writeSettings(*this, registryIdentity, sets, keyName);
    if (transaction.commit() == terbin::TB_OK)
        registryKeyName = keyName;
    return registryKeyName;
}

bool BackupSet::load(const TBString& keyName) {
    registryKeyName = keyName;
    registryIdentity = TBString();
    TBRegistryKey key(TBHiveCurrentUser, registryKeyPath(keyName), false);
    if (!key.isOpen())
        return false;
    TBValue holder;
    forEachSetting(
        [&](const auto& setting) { readValue(key, setting.name, holder, this->*setting.field); });
    readValue(key, IdentityValueName, holder, registryIdentity);
    return true;
}
