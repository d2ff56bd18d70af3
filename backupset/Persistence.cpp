#include "backupset/BackupSet.h"
#include "backupset/BackupSetConfiguration.h"
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

// The key that holds every set; a set's key is below it.
TBString setsKeyPath() {
    return BackupSetConfiguration::installed().getRegistryRoot() + L"/BackupSets";
}

void writeList(TBRegistryKey& key, const wchar_t* name, const TBStringArray& list) {
    const TBMultiString block(list);
    key.setValue(TBRegistryValue(name, RegMultiString, block.data(), block.datasize()));
}

// A value that cannot be read leaves the field as it was: the holder still
// has the previous value's data, which belongs to another field.
void readText(TBRegistryKey& key, const wchar_t* name, TBValue& holder, TBString& field) {
    if (key.getValue(name, holder) == terbin::TB_OK)
        field = holder.toString();
}

void readNumber(TBRegistryKey& key, const wchar_t* name, TBValue& holder, int32_t& field) {
    if (key.getValue(name, holder) == terbin::TB_OK)
        field = holder.toInt32();
}

void readList(TBRegistryKey& key, const wchar_t* name, TBValue& holder, TBStringArray& list) {
    if (key.getValue(name, holder) == terbin::TB_OK && holder.getType() == RegMultiString) {
        TBMultiString(holder).toStringArray(list);
    }
}

}  // namespace

void BackupSet::save(const TBString& keyName) {
    registryKeyName = keyName;
    // The set's own key is made inside the transaction too, so a save cut
    // short leaves no empty key behind for the catalogue to load as a set.
    // An empty "BackupSets" key, made beforehand, holds no set.
    TBRegistryKey sets(TBHiveCurrentUser, setsKeyPath(), true);
    TBRegistryTransaction transaction(sets);
    TBRegistryKey key(sets, keyName, true);
    key.setValue(TBRegistryValue(L"targetFolder", targetFolder));
    key.setValue(TBRegistryValue(L"backupName", backupName));
    key.setValue(TBRegistryValue(L"backupType", backupType));
    key.setValue(TBRegistryValue(L"backupFolderCount", backupFolderCount));
    key.setValue(TBRegistryValue(L"backupFullPath", backupFullPath));
    key.setValue(TBRegistryValue(L"backupAddComputerFolder", backupAddComputerFolder));
    key.setValue(TBRegistryValue(L"backupAddBackupSetFolder", backupAddBackupSetFolder));
    key.setValue(TBRegistryValue(L"backupCreateLog", backupCreateLog));
    key.setValue(TBRegistryValue(L"backupExcludeFromStartAll", backupExcludeFromStartAll));
    key.setValue(TBRegistryValue(L"preBackupProgram", preBackupProgram));
    key.setValue(TBRegistryValue(L"preBackupArgs", preBackupArgs));
    key.setValue(TBRegistryValue(L"preBackupEnabled", preBackupEnabled));
    key.setValue(TBRegistryValue(L"preBackupWaitForCompletion", preBackupWaitForCompletion));
    key.setValue(TBRegistryValue(L"preBackupIgnoreStatus", preBackupIgnoreStatus));
    key.setValue(TBRegistryValue(L"preBackupTimeout", preBackupTimeout));
    key.setValue(TBRegistryValue(L"preBackupTimeoutMS", preBackupTimeoutMS));
    key.setValue(TBRegistryValue(L"postBackupProgram", postBackupProgram));
    key.setValue(TBRegistryValue(L"postBackupArgs", postBackupArgs));
    key.setValue(TBRegistryValue(L"postBackupEnabled", postBackupEnabled));
    key.setValue(TBRegistryValue(L"postBackupWaitForCompletion", postBackupWaitForCompletion));
    key.setValue(TBRegistryValue(L"postBackupIgnoreStatus", postBackupIgnoreStatus));
    key.setValue(TBRegistryValue(L"postBackupTimeout", postBackupTimeout));
    key.setValue(TBRegistryValue(L"postBackupTimeoutMS", postBackupTimeoutMS));
    writeList(key, L"sourceFolders", sourceFolders);
    writeList(key, L"includeFiles", includeFiles);
    writeList(key, L"excludeFiles", excludeFiles);
    writeList(key, L"excludeFolders", excludeFolders);
    transaction.commit();
}

void BackupSet::load(const TBString& keyName) {
    registryKeyName = keyName;
    TBRegistryKey key(TBHiveCurrentUser, setsKeyPath() + L"/" + keyName, false);
    TBValue holder;
    readText(key, L"backupName", holder, backupName);
    readText(key, L"targetFolder", holder, targetFolder);
    readNumber(key, L"backupType", holder, backupType);
    readNumber(key, L"backupFullPath", holder, backupFullPath);
    readNumber(key, L"backupFolderCount", holder, backupFolderCount);
    readNumber(key, L"backupAddComputerFolder", holder, backupAddComputerFolder);
    readNumber(key, L"backupAddBackupSetFolder", holder, backupAddBackupSetFolder);
    readNumber(key, L"backupFollowSymLinks", holder, backupFollowSymLinks);
    readNumber(key, L"backupCreateLog", holder, backupCreateLog);
    readNumber(key, L"backupExcludeFromStartAll", holder, backupExcludeFromStartAll);
    readText(key, L"preBackupProgram", holder, preBackupProgram);
    readText(key, L"preBackupArgs", holder, preBackupArgs);
    readNumber(key, L"preBackupEnabled", holder, preBackupEnabled);
    readNumber(key, L"preBackupWaitForCompletion", holder, preBackupWaitForCompletion);
    readNumber(key, L"preBackupIgnoreStatus", holder, preBackupIgnoreStatus);
    readNumber(key, L"preBackupTimeout", holder, preBackupTimeout);
    readNumber(key, L"preBackupTimeoutMS", holder, preBackupTimeoutMS);
    readText(key, L"postBackupProgram", holder, postBackupProgram);
    readText(key, L"postBackupArgs", holder, postBackupArgs);
    readNumber(key, L"postBackupEnabled", holder, postBackupEnabled);
    readNumber(key, L"postBackupWaitForCompletion", holder, postBackupWaitForCompletion);
    readNumber(key, L"postBackupIgnoreStatus", holder, postBackupIgnoreStatus);
    readNumber(key, L"postBackupTimeout", holder, postBackupTimeout);
    readNumber(key, L"postBackupTimeoutMS", holder, postBackupTimeoutMS);
    readList(key, L"sourceFolders", holder, sourceFolders);
    readList(key, L"includeFiles", holder, includeFiles);
    readList(key, L"excludeFiles", holder, excludeFiles);
    readList(key, L"excludeFolders", holder, excludeFolders);
}
