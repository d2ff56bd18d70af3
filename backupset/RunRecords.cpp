#include "backupset/RunRecords.h"

#include <algorithm>
#include <cstdlib>

#include "backupset/BackupSet.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"

using terbin::TBHiveCurrentUser;
using terbin::TBRegistryKey;
using terbin::TBRegistryTransaction;
using terbin::TBRegistryValue;
using terbin::TBString;
using terbin::TBStringArray;
using terbin::TBValue;

namespace {

const wchar_t* const LastRunKey = L"LastRun";
const wchar_t* const TargetKey = L"Target";
const wchar_t* const BackupsKey = L"Backups";

// Numbers wider than the registry's 32-bit values are kept as decimal text.
void writeWide(TBRegistryKey& key, const wchar_t* name, uint64_t number) {
    key.setValue(TBRegistryValue(name, TBString::fromBytes(std::to_string(number))));
}

uint64_t readWide(TBRegistryKey& key, const wchar_t* name) {
    TBValue holder;
    if (key.getValue(name, holder) != terbin::TB_OK)
        return 0;
    return std::strtoull(holder.toString().narrow().c_str(), nullptr, 10);
}

int32_t readNumber(TBRegistryKey& key, const wchar_t* name) {
    TBValue holder;
    return key.getValue(name, holder) == terbin::TB_OK ? holder.toInt32() : 0;
}

TBString readText(TBRegistryKey& key, const wchar_t* name) {
    TBValue holder;
    return key.getValue(name, holder) == terbin::TB_OK ? holder.toString() : TBString();
}

// Runs `write` on the subkey `path` of the set's key, made when missing, in
// one transaction. The set's own key is never made: a set removed by
// another process stays removed.
template <typename Write>
uint32_t writeBelowSet(const TBString& keyName, const TBString& identity, const TBString& path,
                       Write&& write) {
    if (keyName.isEmpty())
        return terbin::TB_FILE_NOT_FOUND;
    TBRegistryKey set(TBHiveCurrentUser, BackupSet::registryKeyPath(keyName), false);
    if (!set.isOpen())
        return terbin::TB_FILE_NOT_FOUND;
    TBRegistryTransaction transaction(set);
    // Checked inside the transaction, so the set cannot be removed and its
    // name given again between the check and the write.
    if (!identity.isEmpty() && readText(set, BackupSet::IdentityValueName) != identity)
        return terbin::TB_FILE_NOT_FOUND;
    TBRegistryKey key(set, path, true);
    if (!key.isOpen())
        return terbin::TB_FILE_NOT_FOUND;
    write(key);
    return transaction.commit();
}

TBString subkey(const TBString& keyName, const TBString& path) {
    return BackupSet::registryKeyPath(keyName) + L"/" + path;
}

void writeFolder(TBRegistryKey& key, const BackupFolderRecord& folder) {
    key.setValue(TBRegistryValue(L"TopLevel", folder.topLevel));
    key.setValue(TBRegistryValue(L"Name", folder.name));
    writeWide(key, L"Device", folder.volume.device);
    writeWide(key, L"FileSystem", folder.volume.fileSystem);
    writeWide(key, L"Inode", folder.inode);
    key.setValue(TBRegistryValue(L"Status", folder.status));
    writeWide(key, L"Started", static_cast<uint64_t>(folder.started));
}

}  // namespace

RunRecords::RunRecords(const BackupSet& set)
    : keyName_(set.registryKeyName), identity_(set.registryIdentity) {}

std::optional<LastRunRecord> RunRecords::lastRun() const {
    if (keyName_.isEmpty())
        return std::nullopt;
    TBRegistryKey key(TBHiveCurrentUser, subkey(keyName_, LastRunKey), false);
    if (!key.isOpen())
        return std::nullopt;
    LastRunRecord run;
    run.status = readNumber(key, L"Status");
    run.started = static_cast<int64_t>(readWide(key, L"Started"));
    run.ended = static_cast<int64_t>(readWide(key, L"Ended"));
    run.foldersScanned = readNumber(key, L"FoldersScanned");
    run.filesCopied = readNumber(key, L"FilesCopied");
    run.filesUnchanged = readNumber(key, L"FilesUnchanged");
    run.filesSkipped = readNumber(key, L"FilesSkipped");
    run.filesFailed = readNumber(key, L"FilesFailed");
    run.foldersFailed = readNumber(key, L"FoldersFailed");
    run.bytesCopied = static_cast<int64_t>(readWide(key, L"BytesCopied"));
    run.reason = readText(key, L"Reason");
    run.logFile = readText(key, L"LogFile");
    return run;
}

uint32_t RunRecords::saveLastRun(const LastRunRecord& run) const {
    return writeBelowSet(keyName_, identity_, LastRunKey, [&](TBRegistryKey& key) {
        key.setValue(TBRegistryValue(L"Status", run.status));
        writeWide(key, L"Started", static_cast<uint64_t>(run.started));
        writeWide(key, L"Ended", static_cast<uint64_t>(run.ended));
        key.setValue(TBRegistryValue(L"FoldersScanned", run.foldersScanned));
        key.setValue(TBRegistryValue(L"FilesCopied", run.filesCopied));
        key.setValue(TBRegistryValue(L"FilesUnchanged", run.filesUnchanged));
        key.setValue(TBRegistryValue(L"FilesSkipped", run.filesSkipped));
        key.setValue(TBRegistryValue(L"FilesFailed", run.filesFailed));
        key.setValue(TBRegistryValue(L"FoldersFailed", run.foldersFailed));
        writeWide(key, L"BytesCopied", static_cast<uint64_t>(run.bytesCopied));
        key.setValue(TBRegistryValue(L"Reason", run.reason));
        key.setValue(TBRegistryValue(L"LogFile", run.logFile));
    });
}

std::optional<TargetRecord> RunRecords::target() const {
    if (keyName_.isEmpty())
        return std::nullopt;
    TBRegistryKey key(TBHiveCurrentUser, subkey(keyName_, TargetKey), false);
    if (!key.isOpen())
        return std::nullopt;
    TargetRecord target;
    target.folder = readText(key, L"Folder");
    target.volume.device = readWide(key, L"Device");
    target.volume.fileSystem = readWide(key, L"FileSystem");
    return target;
}

uint32_t RunRecords::saveTarget(const TargetRecord& target) const {
    return writeBelowSet(keyName_, identity_, TargetKey, [&](TBRegistryKey& key) {
        key.setValue(TBRegistryValue(L"Folder", target.folder));
        writeWide(key, L"Device", target.volume.device);
        writeWide(key, L"FileSystem", target.volume.fileSystem);
    });
}

std::vector<BackupFolderRecord> RunRecords::backupFolders() const {
    std::vector<BackupFolderRecord> folders;
    if (keyName_.isEmpty())
        return folders;
    TBRegistryKey backups(TBHiveCurrentUser, subkey(keyName_, BackupsKey), false);
    TBStringArray ids;
    backups.keyNames(ids);
    for (const TBString& id : ids) {
        TBRegistryKey key(backups, id, false);
        BackupFolderRecord folder;
        folder.id = id;
        folder.topLevel = readText(key, L"TopLevel");
        folder.name = readText(key, L"Name");
        folder.volume.device = readWide(key, L"Device");
        folder.volume.fileSystem = readWide(key, L"FileSystem");
        folder.inode = readWide(key, L"Inode");
        folder.status = readNumber(key, L"Status");
        folder.started = static_cast<int64_t>(readWide(key, L"Started"));
        // A record without a place or a name cannot be matched to a folder.
        if (!folder.topLevel.isEmpty() && !folder.name.isEmpty())
            folders.push_back(folder);
    }
    return folders;
}

uint32_t RunRecords::addBackupFolder(BackupFolderRecord& folder) const {
    TBString chosen;
    const uint32_t result =
        writeBelowSet(keyName_, identity_, BackupsKey, [&](TBRegistryKey& backups) {
            // Ids only grow, so a removed record's id is never given to a new
            // folder; the order of ids is the order the folders were made.
            TBStringArray ids;
            backups.keyNames(ids);
            uint64_t next = 1;
            for (const TBString& id : ids)
                next =
                    std::max<uint64_t>(next, std::strtoull(id.narrow().c_str(), nullptr, 10) + 1);
            chosen = TBString::fromBytes(std::to_string(next));
            TBRegistryKey key(backups, chosen, true);
            writeFolder(key, folder);
        });
    if (result == terbin::TB_OK)
        folder.id = chosen;
    return result;
}

uint32_t RunRecords::updateBackupFolder(const BackupFolderRecord& folder) const {
    if (folder.id.isEmpty())
        return terbin::TB_FILE_NOT_FOUND;
    return writeBelowSet(keyName_, identity_, TBString(BackupsKey) + L"/" + folder.id,
                         [&](TBRegistryKey& key) { writeFolder(key, folder); });
}

uint32_t RunRecords::removeBackupFolder(const TBString& id) const {
    if (id.isEmpty())
        return terbin::TB_FILE_NOT_FOUND;
    return writeBelowSet(keyName_, identity_, BackupsKey,
                         [&](TBRegistryKey& backups) { backups.removeKey(id); });
}

bool RunRecords::recordedByAnotherSet(const TBString& ownKey, const BackupFolderRecord& folder) {
    TBRegistryKey sets(TBHiveCurrentUser, BackupSet::setsKeyPath(), false);
    TBStringArray keys;
    sets.keyNames(keys);
    for (const TBString& key : keys) {
        if (key.foldCase() == ownKey.foldCase())
            continue;
        BackupSet other;
        other.registryKeyName = key;
        for (const BackupFolderRecord& known : RunRecords(other).backupFolders()) {
            if (known.topLevel == folder.topLevel && known.name == folder.name &&
                known.inode == folder.inode && known.volume.sameVolumeAs(folder.volume)) {
                return true;
            }
        }
    }
    return false;
}
