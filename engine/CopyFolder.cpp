#include <unordered_map>
#include <vector>

#include "engine/BackupJob.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBResult.h"
#include "foundation/TBThread.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBList;
using terbin::TBString;
using terbin::TBThread;

namespace {

// The target files of one folder, found by name ignoring case in O(1). Each
// file is handed out once, as the change test takes it out of the running.
class TargetIndex {
public:
    explicit TargetIndex(TBList<TBFileInfo>& files) {
        entries_.reserve(static_cast<size_t>(files.size()));
        for (TBFileInfo& info : files) entries_.push_back(&info);
        byFoldedName_.reserve(entries_.size());
        for (size_t i = 0; i < entries_.size(); ++i) {
            byFoldedName_[entries_[i]->getName().foldCase()].push_back(i);
        }
    }

    // The namesake of `name` ignoring case: the one spelled exactly alike if
    // there is one (a case-sensitive file system may hold several), else the
    // first in listing order. Null when there is none left.
    const TBFileInfo* take(const TBString& name) {
        if (byFoldedName_.empty()) return nullptr;
        auto hit = byFoldedName_.find(name.foldCase());
        if (hit == byFoldedName_.end()) return nullptr;
        std::vector<size_t>& candidates = hit->second;
        size_t chosen = 0;
        for (size_t i = 0; i < candidates.size(); ++i) {
            if (entries_[candidates[i]]->getName() == name) {
                chosen = i;
                break;
            }
        }
        const TBFileInfo* found = entries_[candidates[chosen]];
        candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(chosen));
        if (candidates.empty()) byFoldedName_.erase(hit);
        return found;
    }

private:
    std::vector<TBFileInfo*> entries_;
    std::unordered_map<TBString, std::vector<size_t>> byFoldedName_;
};

}  // namespace

void BackupJob::scanFolder(const TBString& folder, TBList<TBFileInfo>& folders,
                           TBList<TBFileInfo>& files, bool filter) {
    folders.clear();
    files.clear();
    TBFolder listing(folder);
    if (!listing.isOpen()) {
        log.info(" failed to open folder %s ", folder.narrow().c_str());
        backupSet->addFailedFolder(folder);
        return;
    }
    TBFileInfo info;
    while (listing.read(info) == 0) {
        if (!waitAndCheck()) break;
        const TBString& name = info.getName();
        if (name == L"." || name == L"..") continue;
        if (info.isFile()) {
            if (filter && backupSet->isFileExcluded(name)) {
                backupSet->filesSkipped += 1;
            } else {
                files.add(info);
            }
        } else if (info.isDirectory()) {
            if (!filter) {
                folders.add(info);
                continue;
            }
            const TBString path = TBFilename::concatPaths(listing.path(), name);
            if ((info.isSymbolicLink() || info.isReparsePoint()) &&
                backupSet->backupFollowSymLinks == 0) {
                log.info(" skipped folder symlink %s ", path.narrow().c_str());
                backupSet->foldersSkipped += 1;
            } else if (backupSet->isFolderExcluded(path)) {
                log.info(" skipped folder %s", path.narrow().c_str());
                backupSet->foldersSkipped += 1;
            } else if (isOwnTarget(info)) {
                log.info(" skipped folder %s", path.narrow().c_str());
                backupSet->foldersSkipped += 1;
            } else {
                folders.add(info);
            }
        }
    }
}

uint32_t BackupJob::copyFolder(const TBString& source, const TBString& target) {
    log.info(" copy folder %s", source.narrow().c_str());
    backupSet->foldersScanned += 1;
    uint32_t result = 0;
    backupSet->setState(ScanningFolder, source, TBString(), 0, 0);

    TBList<TBFileInfo> sourceFolders, sourceFiles, targetFolders, targetFiles;
    scanFolder(source, sourceFolders, sourceFiles, true);

    if (TBFileInfo::isFolder(target)) {
        scanFolder(target, targetFolders, targetFiles, false);
    } else {
        for (;;) {
            const uint32_t created = TBFolder::create(target, true);
            if (created == terbin::TB_DISK_FULL) {
                backupSet->waitingForDiskSpace = true;
                if (!runnable()) return created;
                TBThread::sleep(500);
                continue;
            }
            if (created == 0) {
                backupSet->waitingForDiskSpace = false;
                break;
            }
            log.info(" failed to create folder %s - res = %d (0x%x)", target.narrow().c_str(),
                     static_cast<int>(created), created);
            backupSet->addFailedFolder(target);
            return created;
        }
    }

    TargetIndex index(targetFiles);
    for (const TBFileInfo& file : sourceFiles) {
        if (!waitAndCheck()) break;
        backupSet->setState(ScanningFolder, source, TBString(), 0, 0);
        const TBString& name = file.getName();
        if (const TBFileInfo* old = index.take(name)) {
            const int64_t age = file.getLastModificationTime().getTime() -
                                old->getLastModificationTime().getTime();
            if (old->getSize() == file.getSize() && age > -3 && age < 3) {
                backupSet->filesUnchanged += 1;
                continue;
            }
        }
        const TBString from = TBFilename::concatPaths(source, name);
        const TBString to = TBFilename::concatPaths(target, name);
        backupSet->setState(CopyingFile, from, to, 0, file.getSize());
        result = copyFile(from, to);
    }

    for (const TBFileInfo& folder : sourceFolders) {
        if (!waitAndCheck()) break;
        const TBString& name = folder.getName();
        if (!enterFolder(folder)) {
            // Following links, this folder is already being copied further up
            // the path: entering it again would never end.
            log.info(" skipped folder symlink %s ",
                     TBFilename::concatPaths(source, name).narrow().c_str());
            backupSet->foldersSkipped += 1;
            continue;
        }
        result = copyFolder(TBFilename::concatPaths(source, name),
                            TBFilename::concatPaths(target, name));
        leaveFolder();
    }
    return result;
}

bool BackupJob::isOwnTarget(const TBFileInfo& folder) const {
    for (const FolderId& own : ownTargets_) {
        if (folder.getDevice() == own.device && folder.getInode() == own.inode) return true;
    }
    return false;
}

bool BackupJob::enterFolder(const TBFileInfo& folder) {
    const FolderId id{folder.getDevice(), folder.getInode()};
    for (const FolderId& open : folderPath_) {
        if (open.device == id.device && open.inode == id.inode) return false;
    }
    folderPath_.push_back(id);
    return true;
}

void BackupJob::leaveFolder() { folderPath_.pop_back(); }
