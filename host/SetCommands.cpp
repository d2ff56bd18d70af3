// The commands that create, change, remove and show sets. Each goes through
// the application object's command and update operations as a windowed host
// would: the set is selected, the update operation says whether the command
// is available, and only then the command acts.
#include <cstdio>
#include <optional>

#include "backupset/RunRecords.h"
#include "base/ULVbase.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "host/Commands.h"
#include "host/LogViewer.h"
#include "resource/resource.h"
#include "ui/AboutDialog.h"

using terbin::TBString;

namespace {

using UpdateOperation = void (ULVbase::*)(CCmdUI&);
using CommandOperation = void (ULVbase::*)();

// The set named by `word`, made the selection. Throws HostError naming the
// word when there is no such set.
BackupSet& selectSet(const std::string& word) {
    theBaseApp.selectedIndex = findSetIndex(word);
    BackupSet* set = theBaseApp.selectedSet();
    if (set == nullptr) {
        throw HostError{"no backup set " + TBString::escapeBytes(word) + " (see: ulvaren list)"};
    }
    return *set;
}

// Whether the update operation enables command `id`, as a menu would ask.
bool isEnabled(UINT id, UpdateOperation update) {
    CCmdUI cmdUI(id);
    (theBaseApp.*update)(cmdUI);
    return cmdUI.isEnabled();
}

// Why a command is not available beyond its own reason: backups that run.
std::string unavailable(const std::string& reason) {
    if (theBaseApp.busy || theBaseApp.isBackupInProgress())
        return "not now: a backup is running";
    return reason.empty() ? "not available now" : reason;
}

// Carries out command `id` when its update operation enables it, else throws
// HostError with `reason`. Throws HostError with lastRefusal when the
// command passed its rule and still did not act.
void carryOut(UINT id, UpdateOperation update, CommandOperation command,
              const std::string& reason) {
    if (!isEnabled(id, update))
        throw HostError{unavailable(reason)};
    (theBaseApp.*command)();
    if (!theBaseApp.lastRefusal.isEmpty())
        throw HostError{theBaseApp.lastRefusal.escaped()};
}

std::string describe(const BackupSet& set) {
    return "\"" + set.backupName.escaped() + "\"";
}

// The set of the catalogue holding source folder `path`; null when none.
const BackupSet* holderOf(const TBString& path) {
    for (const BackupSet* set : theBaseApp.backupSets) {
        if (set != nullptr && set->containsSourceFolder(path))
            return set;
    }
    return nullptr;
}

}  // namespace

int newSet(const HostOptions& options) {
    HostSession session(options);
    session.showDialogsOnTerminal();
    const int before = theBaseApp.backupSets.size();
    // The add command works on an empty catalogue too; only its update rule
    // says it is disabled there, so a window would offer it some other way.
    if (before > 0 && !isEnabled(ID_ADD_BACKUP_SET, &ULVbase::OnUpdateAddBackupSet))
        throw HostError{unavailable("")};
    theBaseApp.OnAddBackupSet();
    if (theBaseApp.backupSets.size() == before) {
        if (!theBaseApp.lastRefusal.isEmpty())
            throw HostError{theBaseApp.lastRefusal.escaped()};
        std::printf("cancelled: no backup set was added\n");
        return 1;
    }
    const BackupSet& set = *theBaseApp.backupSets[before];
    std::printf("added backup set %d %s\n", before, describe(set).c_str());
    // What the editor could not finish after the save (the target folder).
    if (!theBaseApp.lastRefusal.isEmpty())
        throw HostError{theBaseApp.lastRefusal.escaped()};
    return 0;
}

int editSet(const HostOptions& options, const std::string& word) {
    HostSession session(options);
    session.showDialogsOnTerminal();
    BackupSet& set = selectSet(word);
    if (!isEnabled(ID_EDIT_BACKUP_SET, &ULVbase::OnUpdateEditBackupSet))
        throw HostError{unavailable("")};
    theBaseApp.OnEditBackupSet();
    if (set.modified)
        std::printf("saved backup set %d %s\n", theBaseApp.selectedIndex, describe(set).c_str());
    if (!theBaseApp.lastRefusal.isEmpty())
        throw HostError{theBaseApp.lastRefusal.escaped()};
    if (!set.modified) {
        std::printf("cancelled: backup set %s is unchanged\n", describe(set).c_str());
        return 1;
    }
    return 0;
}

int removeSet(const HostOptions& options, const std::string& word) {
    HostSession session(options);
    const BackupSet& set = selectSet(word);
    const std::string name = describe(set);
    carryOut(ID_REMOVE_BACKUP_SET, &ULVbase::OnUpdateRemoveBackupSet, &ULVbase::OnRemoveBackupSet,
             "");
    std::printf("removed backup set %s (its backups are kept)\n", name.c_str());
    return 0;
}

int addFolder(const HostOptions& options, const std::string& path, const std::string& word) {
    HostSession session(options);
    BackupSet* set = word.empty() ? nullptr : &selectSet(word);
    // Sets change only while no backup runs, as for every other change.
    if (!isEnabled(0, &ULVbase::OnUpdateDisallowWhenRunning))
        throw HostError{unavailable("")};
    const TBString folder = TBString::fromBytes(absolutePath(path));
    if (!terbin::TBFolder(folder).isOpen())
        throw HostError{"cannot open folder " + folder.escaped()};
    if (const BackupSet* holder = holderOf(folder)) {
        throw HostError{"folder " + folder.escaped() + " is already in backup set " +
                        describe(*holder)};
    }
    const TBString name = terbin::TBFilename::basename(folder);
    if (set == nullptr) {
        if (!BackupSet::isPlainName(name))
            throw HostError{"a backup set cannot be named after " + folder.escaped() +
                            ": add it to a set with --set SET"};
        const int named = findSetIndex(name.narrow());
        if (named >= 0) {
            throw HostError{"there is a backup set " + describe(*theBaseApp.backupSets[named]) +
                            " already: add the folder to it with --set " + name.escaped()};
        }
    }
    BackupSet* added = theBaseApp.addBackupSourceFolder(set, folder, false);
    if (added == nullptr || !added->containsSourceFolder(folder))
        throw HostError{"folder " + folder.escaped() + " could not be added"};
    if (set == nullptr) {
        added->backupName = name;
        // The key is chosen and the set written in one transaction.
        if (added->saveNew(TBString()).isEmpty())
            throw HostError{"backup set " + describe(*added) + " could not be saved"};
        std::printf("added backup set %d %s with source %s\n", theBaseApp.backupSets.size() - 1,
                    describe(*added).c_str(), folder.escaped().c_str());
        return 0;
    }
    if (added->save(added->registryKeyName) != 0)
        throw HostError{"backup set " + describe(*added) +
                        " was removed or replaced by another program; the folder was not added"};
    std::printf("added source %s to backup set %s\n", folder.escaped().c_str(),
                describe(*added).c_str());
    return 0;
}

int viewLog(const HostOptions& options, const std::string& word) {
    HostSession session(options);
    BackupSet& set = selectSet(word);
    // The log of the last run, as its record names it: a new process has
    // not seen the run.
    if (set.logFilePath.isEmpty()) {
        if (const std::optional<LastRunRecord> last = RunRecords(set).lastRun())
            set.logFilePath = last->logFile;
    }
    theBaseApp.logViewer = showLogOnTerminal;
    carryOut(ID_VIEW_LOG, &ULVbase::OnUpdateViewLog, &ULVbase::OnViewLog,
             set.logFilePath.isEmpty() ? "backup set " + describe(set) + " has no log yet"
                                       : "the log of backup set " + describe(set) + ", " +
                                             set.logFilePath.escaped() + ", is not there");
    return 0;
}

int showAbout(const HostOptions& options) {
    HostSession session(options);
    session.showDialogsOnTerminal();
    if (AboutDialog::DoModalDialog() < 0)
        throw HostError{"the about box could not be shown: its resources are missing"};
    return 0;
}
