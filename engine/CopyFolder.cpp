#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "engine/TargetLister.h"
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

// Hash and equality of names ignoring letter case, computed on the fly so a
// look-up allocates nothing.
struct FoldedHash {
    size_t operator()(std::wstring_view name) const noexcept {
        uint64_t h = 1469598103934665603ull;
        for (wchar_t c : name) {
            h ^= static_cast<uint64_t>(TBString::foldChar(c));
            h *= 1099511628211ull;
        }
        return static_cast<size_t>(h);
    }
};

struct FoldedEqual {
    bool operator()(std::wstring_view a, std::wstring_view b) const noexcept {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] != b[i] && TBString::foldChar(a[i]) != TBString::foldChar(b[i])) {
                return false;
            }
        }
        return true;
    }
};

// The target files of one folder, found by name ignoring case in O(1). Each
// file is handed out once, as the change test takes it out of the running.
// The names are viewed in place: the list outlives the index.
class TargetIndex {
public:
    explicit TargetIndex(TBList<TBFileInfo>& files) {
        entries_.reserve(static_cast<size_t>(files.size()));
        for (TBFileInfo& info : files) entries_.push_back(&info);
        next_.assign(entries_.size(), -1);
        first_.reserve(entries_.size());
        // Chains keep listing order: walk backwards and push to the front.
        for (size_t i = entries_.size(); i-- > 0;) {
            auto [it, added] =
                first_.try_emplace(entries_[i]->getName().view(), static_cast<int>(i));
            if (!added) {
                next_[i] = it->second;
                it->second = static_cast<int>(i);
            }
        }
    }

    // The namesake of `name` ignoring case: the one spelled exactly alike if
    // there is one (a case-sensitive file system may hold several), else the
    // first in listing order. Null when there is none left.
    const TBFileInfo* take(const TBString& name) {
        if (first_.empty())
            return nullptr;
        auto hit = first_.find(name.view());
        if (hit == first_.end())
            return nullptr;
        int chosen = hit->second;
        int before = -1;
        for (int i = hit->second, previous = -1; i >= 0; previous = i, i = next_[i]) {
            if (entries_[i]->getName() == name) {
                chosen = i;
                before = previous;
                break;
            }
        }
        if (before < 0) {
            if (next_[chosen] < 0) {
                first_.erase(hit);
            } else {
                hit->second = next_[chosen];
            }
        } else {
            next_[before] = next_[chosen];
        }
        return entries_[chosen];
    }

private:
    std::vector<TBFileInfo*> entries_;
    std::vector<int> next_;  // next entry of the same folded name, -1 at the end
    std::unordered_map<std::wstring_view, int, FoldedHash, FoldedEqual> first_;
};

}  // namespace

void BackupJob::scanFolder(const TBString& folder, TBList<TBFileInfo>& folders,
                           TBList<TBFileInfo>& files, bool filter) {
    folders.clear();
    files.clear();
    TBFolder listing(folder);
    if (!listing.isOpen()) {
        RunLog::folderUnreadable(log, folder);
        backupSet->addFailedFolder(folder);
        return;
    }
    TBFileInfo info;
    while (listing.read(info) == 0) {
        if (!waitAndCheck())
            break;
        const TBString& name = info.getName();
        if (terbin::tb_file_isDotEntry(name))
            continue;
        if (info.isFile()) {
            if (filter && backupSet->isFileExcluded(name)) {
                backupSet->filesSkipped += 1;
            } else {
                files.add(std::move(info));
            }
        } else if (info.isDirectory()) {
            if (!filter) {
                folders.add(std::move(info));
                continue;
            }
            const TBString path = TBFilename::concatPaths(listing.path(), name);
            if ((info.isSymbolicLink() || info.isReparsePoint()) &&
                backupSet->backupFollowSymLinks == 0) {
                RunLog::folderLinkSkipped(log, path);
                backupSet->foldersSkipped += 1;
            } else if (backupSet->isFolderExcluded(path)) {
                RunLog::folderSkipped(log, path);
                backupSet->foldersSkipped += 1;
            } else if (isOwnTarget(info)) {
                RunLog::folderSkipped(log, path);
                backupSet->foldersSkipped += 1;
            } else {
                folders.add(std::move(info));
            }
        }
    }
}

uint32_t BackupJob::copyFolder(const TBString& source, const TBString& target) {
    RunLog::copyingFolder(log, source);
    backupSet->foldersScanned += 1;
    uint32_t result = 0;
    backupSet->setState(ScanningFolder, source, TBString(), 0, 0);

    // The target is listed on the lister's thread while the source is
    // listed here; its outcome is reported only afterwards, so the log reads
    // as if the two were listed one after the other.
    if (!targetLister_)
        targetLister_ = std::make_unique<TargetLister>(*this);
    targetLister_->prefetch(target);
    TBList<TBFileInfo> sourceFolders, sourceFiles, targetFolders, targetFiles;
    scanFolder(source, sourceFolders, sourceFiles, true);
    const TargetLister::Outcome outcome = targetLister_->take(target, targetFolders, targetFiles);
    // The subfolders' targets are listed while this folder's files are
    // compared and copied; the first to be entered is asked for last, so it
    // comes first.
    std::vector<TBString> upcoming;
    for (const TBFileInfo& folder : sourceFolders) {
        upcoming.push_back(TBFilename::concatPaths(target, folder.getName()));
    }
    for (auto it = upcoming.rbegin(); it != upcoming.rend(); ++it) targetLister_->prefetch(*it);

    if (outcome == TargetLister::Outcome::Unreadable) {
        RunLog::folderUnreadable(log, target);
        backupSet->addFailedFolder(target);
    } else if (outcome == TargetLister::Outcome::Missing) {
        for (;;) {
            const uint32_t created = TBFolder::create(target, true);
            if (created == terbin::TB_DISK_FULL) {
                backupSet->waitingForDiskSpace = true;
                if (!runnable())
                    return created;
                TBThread::sleep(500);
                continue;
            }
            if (created == 0) {
                backupSet->waitingForDiskSpace = false;
                break;
            }
            RunLog::folderNotCreated(log, target, created);
            backupSet->addFailedFolder(target);
            return created;
        }
    }

    TargetIndex index(targetFiles);
    // The folder is reported before each file; while no copy has changed
    // the report since, it still stands and is not stored again.
    bool scanningShown = true;
    for (const TBFileInfo& file : sourceFiles) {
        if (!waitAndCheck())
            break;
        if (!scanningShown) {
            backupSet->setState(ScanningFolder, source, TBString(), 0, 0);
            scanningShown = true;
        }
        const TBString& name = file.getName();
        if (const TBFileInfo* old = index.take(name)) {
            const int64_t age =
                file.getLastModificationTime().getTime() - old->getLastModificationTime().getTime();
            if (old->getSize() == file.getSize() && age > -3 && age < 3) {
                backupSet->filesUnchanged += 1;
                continue;
            }
        }
        const TBString from = TBFilename::concatPaths(source, name);
        const TBString to = TBFilename::concatPaths(target, name);
        backupSet->setState(CopyingFile, from, to, 0, file.getSize());
        scanningShown = false;
        result = copyFile(from, to);
    }

    for (const TBFileInfo& folder : sourceFolders) {
        if (!waitAndCheck())
            break;
        const TBString& name = folder.getName();
        if (!enterFolder(folder)) {
            // Following links, this folder is already being copied further up
            // the path: entering it again would never end.
            RunLog::folderLinkSkipped(log, TBFilename::concatPaths(source, name));
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
        if (folder.getDevice() == own.device && folder.getInode() == own.inode)
            return true;
    }
    return false;
}

bool BackupJob::enterFolder(const TBFileInfo& folder) {
    const FolderId id{folder.getDevice(), folder.getInode()};
    for (const FolderId& open : folderPath_) {
        if (open.device == id.device && open.inode == id.inode)
            return false;
    }
    folderPath_.push_back(id);
    return true;
}

void BackupJob::leaveFolder() {
    folderPath_.pop_back();
}
