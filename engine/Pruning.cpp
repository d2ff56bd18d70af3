// Pruning: removal of the oldest dated backup subfolders of a set beyond the
// number it keeps, each with its log file. Removal walks by handles: every
// folder is opened at its parent's handle and checked to be the one listed,
// and every entry is removed relative to its parent's handle, so a folder
// swapped for a link during the walk is never followed.
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

}  // namespace

void BackupJob::pruneBackupFolders(const TBString& topLevel, const TBString& finalTarget,
                                   int32_t keep) {
    // The one folder opened by its path; the backups in it are removed
    // relative to it, as its listing found them.
    TBFolder listing(topLevel);
    if (!listing.isOpen())
        return;
    // Only folders named like dated backups are counted: a target folder
    // shared with anything else must never lose that.
    std::vector<TBFileInfo> dated;
    TBFileInfo info;
    while (listing.read(info) == 0) {
        const TBString& name = info.getName();
        if (tb_file_isDotEntry(name))
            continue;
        if (!info.isDirectory() || info.isSymbolicLink() || !RunLog::isDatedFolderName(name)) {
            continue;
        }
        dated.push_back(info);
    }
    const TBString current = TBFilename::basename(finalTarget);
    while (static_cast<int32_t>(dated.size()) > keep) {
        // Oldest by creation time; among equal times the first listed. The
        // folder of this very run is never the one to go.
        size_t oldest = dated.size();
        for (size_t i = 0; i < dated.size(); ++i) {
            if (dated[i].getName() == current)
                continue;
            if (oldest == dated.size() ||
                dated[i].getCreateTime() < dated[oldest].getCreateTime()) {
                oldest = i;
            }
        }
        if (oldest == dated.size())
            break;
        const TBString& name = dated[oldest].getName();
        const TBString path = TBFilename::concatPaths(topLevel, name);
        RunLog::removingOldSubfolder(log, path);
        removeTreeIn(*this, listing, dated[oldest], path);
        TBFolder::removeIn(listing, RunLog::fileName(backupSet->backupName, name), false);
        dated.erase(dated.begin() + static_cast<std::ptrdiff_t>(oldest));
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
