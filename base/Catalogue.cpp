// The catalogue of backup sets: the sets stored in the registry, the default
// sets of a first run, sets made from definition files and from added folders.
#include <memory>
#include <vector>

#include "backupset/BackupSetFields.h"
#include "base/BackupSetDefinition.h"
#include "base/ULVbase.h"
#include "foundation/TBEnvironment.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "foundation/TBStringArray.h"
#include "foundation/TBValue.h"
#include "foundation/XmlFile.h"

using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBHiveCurrentUser;
using terbin::TBRegistryKey;
using terbin::TBString;
using terbin::TBStringArray;
using terbin::TBValue;

namespace {

// Appends under the catalogue's write lock and hands ownership to the
// catalogue; an append that throws leaves no set behind and the lock free.
BackupSet* appendSet(ULVbase& app, std::unique_ptr<BackupSet> set) {
    terbin::TBWriteLock guard(app.backupSets);
    app.backupSets.add(set.get());
    return set.release();
}

void applyDefaultSettings(BackupSet& set, const wchar_t* name) {
    set.backupName = name;
    set.backupAddComputerFolder = 1;
    set.backupType = DateSubfolder;
    set.backupFolderCount = 8;
}

void saveDefaultSet(ULVbase& app, BackupSet& set) {
    set.saveNew(TBString::valueOf(app.backupSets.size()));
}

struct UserFolderSet {
    const wchar_t* name;
    const wchar_t* source;
    std::initializer_list<const wchar_t*> excludedFolders;
    std::initializer_list<const wchar_t*> excludedFiles;
};

const UserFolderSet UserFolderSets[] = {
    {L"Documents and Settings",
     L"Documents and Settings",
     {L"Documents and Settings/*/Application Data", L"Documents and Settings/*/Local Settings",
      L"Documents and Settings/LocalService", L"Documents and Settings/NetworkService", L"Temp",
      L"Tmp"},
     {L"ntuser.dat*", L"*.tmp", L"*.log", L"thumbs.db"}},
    {L"User Files",
     L"Users",
     {L"Users/*/AppData", L"Temp", L"Tmp"},
     {L"ntuser.dat*", L"*.tmp", L"*.log", L"thumbs.db"}},
    {L"Home", L"Home", {}, {}},
};

const wchar_t* const MailSources[] = {
    L"Users/*/AppData/Local/Microsoft/Outlook",
    L"Users/*/AppData/Roaming/Microsoft/Outlook",
    L"Users/*/AppData/Local/Microsoft/Windows Mail",
    L"Users/*/AppData/Roaming/Microsoft/Stationery",
    L"Users/*/AppData/Roaming/Microsoft/Signatures",
    L"Users/*/Contacts",
    L"Documents and Settings/*/Local Settings/Application Data/Microsoft/Outlook",
    L"Documents and Settings/*/Application Data/Microsoft/Address Book",
    // One entry, split only to fit the line.
    (L"Documents and Settings/*/Local Settings/Application Data/Identities/*/Microsoft/"
     L"Outlook Express"),
};

// Where there is no system drive (Linux), the one default set: the person's
// home folder, without caches, the trash and scratch files. Like the rows
// above, it is made only when its folder opens.
void createHomeSet(ULVbase& app) {
    const TBString home = terbin::tb_misc_getEnvironmentVariable(L"HOME");
    if (home.isEmpty())
        return;
    BackupSet* set = app.addBackupSourceFolder(nullptr, home, false);
    if (set == nullptr)
        return;
    applyDefaultSettings(*set, L"Home");
    set->excludeFolder(L".cache");
    set->excludeFolder(L".local/share/Trash");
    set->excludeFile(L"*.tmp");
    saveDefaultSet(app, *set);
}

void createDefaultSets(ULVbase& app) {
    // An empty value counts as undefined: joined to "", every source would
    // be a path relative to whatever the current folder happens to be.
    const TBString drive = terbin::tb_misc_getEnvironmentVariable(L"SystemDrive");
    if (drive.isEmpty()) {
        createHomeSet(app);
        return;
    }
    for (const UserFolderSet& row : UserFolderSets) {
        const TBString source = TBFilename::concatPaths(drive, row.source, TBFilename::NativePath);
        BackupSet* set = app.addBackupSourceFolder(nullptr, source, false);
        if (set == nullptr)
            continue;
        applyDefaultSettings(*set, row.name);
        for (const wchar_t* folder : row.excludedFolders) set->excludeFolder(folder);
        for (const wchar_t* file : row.excludedFiles) set->excludeFile(file);
        saveDefaultSet(app, *set);
    }
    // Forced: the set is made whether or not any of these folders exists yet.
    BackupSet* mail = nullptr;
    for (const wchar_t* source : MailSources) {
        mail = app.addBackupSourceFolder(
            mail, TBFilename::concatPaths(drive, source, TBFilename::NativePath), true);
    }
    applyDefaultSettings(*mail, L"Mail and Contacts");
    saveDefaultSet(app, *mail);
}

// A set as the registry holds it, and whether a set of the catalogue is it.
struct StoredSet {
    TBString keyName;
    TBString identity;  // empty for a set stored before identities were kept
    bool inCatalogue = false;
};

// Every stored set, in key order, into `stored`. False when the registry
// cannot be read: a missing store must not read as "every set removed".
bool readStoredSets(std::vector<StoredSet>& stored) {
    TBRegistryKey root(TBHiveCurrentUser, TBString(), false);
    if (!root.isOpen())
        return false;
    TBRegistryKey sets(root, BackupSet::setsKeyPath(), false);
    if (!sets.isOpen())
        return ::tb_status_getLastError() == terbin::TB_FILE_NOT_FOUND;
    TBStringArray names;
    if (sets.keyNames(names) != terbin::TB_OK)
        return false;
    for (const TBString& name : names) {
        TBRegistryKey key(sets, name, false);
        if (!key.isOpen())
            continue;  // removed since the names were read
        StoredSet entry;
        entry.keyName = name;
        TBValue holder;
        const uint32_t result = key.getValue(BackupSet::IdentityValueName, holder);
        if (result == terbin::TB_OK)
            entry.identity = holder.toString();
        else if (result != terbin::TB_FILE_NOT_FOUND)
            return false;
        stored.push_back(entry);
    }
    return true;
}

// The stored entry that is `set`: the same key (letter case not counting)
// holding the same identity; null when there is none.
StoredSet* storedEntryOf(std::vector<StoredSet>& stored, const BackupSet& set) {
    const TBString key = set.registryKeyName.foldCase();
    for (StoredSet& entry : stored) {
        if (!entry.inCatalogue && entry.keyName.foldCase() == key &&
            entry.identity == set.registryIdentity) {
            return &entry;
        }
    }
    return nullptr;
}

// Reads the settings of `set` again, unless its key has meanwhile gone to
// another set. Only the settings change: the outcome of its last run, its
// counters and its log stay for the window to show.
void reloadSettings(ULVbase& app, BackupSet& set) {
    BackupSet stored;
    if (!stored.load(set.registryKeyName) || stored.registryIdentity != set.registryIdentity)
        return;
    const terbin::TBWriteLock guard(app.backupSets);
    forEachSetting([&](const auto& setting) { set.*setting.field = stored.*setting.field; });
}

}  // namespace

void ULVbase::reloadBackupSets() {
    std::vector<StoredSet> stored;
    if (!readStoredSets(stored))
        return;
    BackupSet* const selected = selectedSet();
    std::vector<BackupSet*> gone;
    for (BackupSet* set : backupSets) {
        // A set never saved is not the registry's to take away.
        if (set == nullptr || set->registryKeyName.isEmpty())
            continue;
        // A job or the editor holds a pointer to it.
        const bool held = hasJob(set) || set == editedSet_;
        if (StoredSet* entry = storedEntryOf(stored, *set)) {
            entry->inCatalogue = true;
            if (!held)
                reloadSettings(*this, *set);
        } else if (!held) {
            gone.push_back(set);
        }
    }
    {
        const terbin::TBWriteLock guard(backupSets);
        for (BackupSet* set : gone) backupSets.removeAt(backupSets.indexOf(set));
    }
    // Before anything is deleted or appended: a new set may be given the
    // address of one deleted.
    selectedIndex = selected == nullptr ? -1 : backupSets.indexOf(selected);
    for (BackupSet* set : gone) delete set;
    for (const StoredSet& entry : stored) {
        auto set = std::make_unique<BackupSet>();
        if (!entry.inCatalogue && set->load(entry.keyName))
            appendSet(*this, std::move(set));
    }
}

void ULVbase::loadBackupSets() {
    TBStringArray names;
    TBRegistryKey(TBHiveCurrentUser, BackupSet::setsKeyPath(), false).keyNames(names);
    for (const TBString& name : names) {
        auto set = std::make_unique<BackupSet>();
        set->load(name);
        appendSet(*this, std::move(set));
    }
    if (!backupSets.isEmpty())
        return;
    firstRun = true;
    createDefaultSets(*this);
}

void ULVbase::addBackupSet(const TBString& path) {
    xml::XmlFile file;
    if (file.load(path) != 0)
        return;
    xml::XmlNode* definition = file.findNode(L"backupset");
    if (definition == nullptr)
        return;
    auto set = std::make_unique<BackupSet>();
    readBackupSetDefinition(*definition, *set);
    // The name becomes a folder and file names: a set that could never run
    // is not kept.
    if (!BackupSet::isPlainName(set->backupName))
        return;
    resolveSourceFolders(*set, TBFilename::dirname(TBFilename::absolute(path)));
    appendSet(*this, std::move(set))->saveNew(TBString());
}

BackupSet* ULVbase::addBackupSourceFolder(BackupSet* set, const TBString& path, bool force) {
    if (!force && !TBFolder(path).isOpen())
        return set;
    bool held = false;
    for (const BackupSet* other : backupSets) {
        if (other != nullptr && other->containsSourceFolder(path)) {
            held = true;
            break;
        }
    }
    if (set == nullptr)
        set = appendSet(*this, std::make_unique<BackupSet>());
    if (!held)
        set->addSourceFolder(path, force);
    return set;
}
