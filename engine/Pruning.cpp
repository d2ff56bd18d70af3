// Pruning: removal of the oldest dated backup subfolders of a set beyond the
// number it keeps, each with its log files. Only folders the set's records
// name are candidates: a name is no proof that a folder is a backup. Removal walks by handles:
// every folder is opened at its parent's handle and checked to be the one listed, and every entry
// is removed relative to its parent's handle, so a folder swapped for a link during the walk is
// never followed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::tb_file_isDotEntry;
using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

// Removes `entry`, listed in the open `parent` and known as `path`, with
// everything in it, as BackupJob::removeFolder does with recursion.
uint32_t removeTreeIn(BackupJob& job, const TBFolder& parent, const TBFileInfo& entry,
                      const TBString& path) {
    job.backupSet->setState(RemovingFolder, path, TBString(), 0, 0);
    const TBString& name = entry.getName();
    // A link is removed as a link: nothing it points to is ever deleted.
    if (entry.isSymbolicLink())
        return TBFolder::removeIn(parent, name, false);

    uint32_t firstError = 0;
    // A folder on another file system is not entered: what is mounted there
    // is not part of this tree. Only its own (empty) removal is tried.
    if (!entry.isReparsePoint()) {
        // Opened only when it is still the folder listed: one swapped for a
        // link or another folder since does not open, and counts as empty.
        TBFolder listing(parent, entry, TBFileInfo::Fields::ChangeTest);
        TBFileInfo info;
        while (job.runnable()) {
            if (listing.read(info) != 0 || !job.waitAndCheck())
                break;
            const TBString& inner = info.getName();
            if (tb_file_isDotEntry(inner))
                continue;
            // The entry's path is not run through the path clean-up: a name
            // may hold a backslash here, which the clean-up would turn into a
            // separator.
            const TBString innerPath = TBFilename::concatPaths(path, inner, TBFilename::NativePath);
            uint32_t removed;
            if (info.isDirectory() && !info.isSymbolicLink()) {
                removed = removeTreeIn(job, listing, info, innerPath);
            } else {
                job.backupSet->setState(RemovingFile, path, TBString(), 0, 0);
                removed = TBFolder::removeIn(listing, inner, false);
            }
            if (removed != 0 && firstError == 0)
                firstError = removed;
        }
    }
    const uint32_t own = TBFolder::removeIn(parent, name, true);
    return own != 0 ? own : firstError;
}

// Removes the log file `name` of a removed backup from `folder`, with the
// older parts rotation made of it (NAME.1, NAME.2, ...).
void removeLogsOf(const TBFolder& folder, const TBString& name) {
    TBFolder::removeIn(folder, name, false);
    for (int part = 1; part <= RunLog::KeptFiles; ++part)
        TBFolder::removeIn(folder, name + L"." + TBString::valueOf(part), false);
}

// The identities of each folder of `sources` and of every folder above it,
// as the file system sees them (through links, up to the root).
std::vector<BackupJob::FolderId> sourceFoldersAndAncestors(const TBStringArray& sources) {
    std::vector<BackupJob::FolderId> found;
    for (const TBString& source : sources) {
        // "/." makes a link to a folder count as the folder; each "/.." then
        // climbs from the real folder, not from where the link sits.
        TBString at = source + L"/.";
        for (;;) {
            const TBFileInfo info(at);
            if (!info.isDirectory())
                break;
            const bool seen = std::any_of(found.begin(), found.end(), [&](const auto& id) {
                return id.device == info.getDevice() && id.inode == info.getInode();
            });
            if (seen)
                break;  // the root is its own parent, and paths share ancestors
            found.push_back({info.getDevice(), info.getInode()});
            at += L"/..";
        }
    }
    return found;
}

}  // namespace

void BackupJob::pruneBackupFolders(const TBString& topLevel, const TBStringArray& sources,
                                   int32_t keep) {
    const RunRecords records(*backupSet);
    // The one folder opened by its path; the backups in it are examined and
    // removed relative to it, never through a link.
    TBFolder listing(topLevel, TBFileInfo::Fields::ChangeTest);
    if (!listing.isOpen())
        return;
    const uint64_t fileSystem = listing.fileSystemId();
    const VolumeIdentity here{listing.getDevice(), fileSystem};

    // Only folders this set made count, each still the very folder recorded.
    // A folder of that name that is something else now is not ours and stays;
    // a record whose folder is gone (removed by hand) is dropped.
    struct Backup {
        BackupFolderRecord record;
        TBFileInfo entry;
    };
    std::vector<Backup> backups;
    for (const BackupFolderRecord& record : records.backupFolders()) {
        // A record of another drive (used in turn at the same place) waits
        // for that drive; a name that is no plain name is no folder of ours.
        if (record.topLevel != topLevel || !record.volume.sameVolumeAs(here) ||
            !BackupSet::isPlainName(record.name)) {
            continue;
        }
        TBFileInfo entry;
        const bool examined = entry.query(listing.handle(), record.name.narrow().c_str(),
                                          record.name, TBFileInfo::Fields::ChangeTest);
        if (!examined) {
            records.removeBackupFolder(record.id);
            continue;
        }
        const VolumeIdentity volume{entry.getDevice(),
                                    entry.getDevice() == listing.getDevice() ? fileSystem : 0};
        if (entry.getError() != 0 || !entry.isDirectory() || entry.isSymbolicLink() ||
            entry.getInode() != record.inode || !record.volume.sameVolumeAs(volume)) {
            continue;
        }
        entry.setListedIn(listing.getDevice(), true);
        backups.push_back({record, entry});
    }

    // What is never removed: this run's folder, the newest backup that
    // ended Complete, and a folder that is or holds a source folder.
    std::vector<FolderId> spared = sourceFoldersAndAncestors(sources);
    const Backup* newestComplete = nullptr;
    for (const Backup& backup : backups) {
        if (backup.record.status == Complete && backup.record.id != datedFolder_.id)
            newestComplete = &backup;
    }
    auto removable = [&](const Backup& backup) {
        if (backup.record.id == datedFolder_.id || &backup == newestComplete)
            return false;
        for (const FolderId& id : spared) {
            if (id.device == backup.entry.getDevice() && id.inode == backup.entry.getInode())
                return false;
        }
        return true;
    };

    // Backups that did not end Complete go first, then the oldest.
    std::vector<const Backup*> order;
    for (const bool complete : {false, true}) {
        for (const Backup& backup : backups) {
            if ((backup.record.status == Complete) == complete && removable(backup))
                order.push_back(&backup);
        }
    }
    size_t count = backups.size();
    for (const Backup* backup : order) {
        if (count <= static_cast<size_t>(keep) || !runnable())
            break;
        --count;
        // A folder another set sharing the target ran into on the same day
        // holds that set's backup too: it stops counting for this set, and
        // goes when the last set that recorded it prunes it.
        if (RunRecords::recordedByAnotherSet(backupSet->registryKeyName, backup->record)) {
            records.removeBackupFolder(backup->record.id);
            continue;
        }
        const TBString& name = backup->record.name;
        const TBString path = TBFilename::concatPaths(topLevel, name, TBFilename::NativePath);
        RunLog::removingOldSubfolder(log, path);
        if (removeTreeIn(*this, listing, backup->entry, path) != 0)
            continue;
        records.removeBackupFolder(backup->record.id);
        removeLogsOf(listing, RunLog::fileName(backupSet->backupName, name));
    }
}

uint32_t BackupJob::removeFolder(const TBString& folder, bool recurse) {
    if (recurse) {
        // The parent is opened by its path; the folder itself at the
        // parent's handle, never through a link.
        const TBFolder parent(TBFilename::dirname(folder), TBFileInfo::Fields::ChangeTest);
        const TBString name = TBFilename::basename(folder);
        TBFileInfo entry;
        if (parent.handle() >= 0 && !name.isEmpty() && !tb_file_isDotEntry(name) &&
            entry.query(parent.handle(), name.narrow().c_str(), name,
                        TBFileInfo::Fields::ChangeTest) &&
            entry.getError() == 0 && (entry.isDirectory() || entry.isSymbolicLink())) {
            entry.setListedIn(parent.getDevice(), entry.isDirectory());
            return removeTreeIn(*this, parent, entry, folder);
        }
        // Nothing there to walk (no folder, or one that cannot be examined):
        // the folder's own removal gives the reason.
    }
    backupSet->setState(RemovingFolder, folder, TBString(), 0, 0);
    return TBFolder::remove(folder);
}
