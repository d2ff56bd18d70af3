#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "engine/TreeLister.h"
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
//
// Two listings of the same names on one file system usually come in the
// same order; while the names asked for follow the target's own order they
// are found without an index, which is built only at the first that does
// not.
class TargetIndex {
public:
    explicit TargetIndex(std::vector<TBFileInfo>& files) : files_(files) {}

    // The namesake of `name` ignoring case: the one spelled exactly alike if
    // there is one (a case-sensitive file system may hold several), else the
    // first in listing order. Null when there is none left.
    const TBFileInfo* take(const TBString& name) {
        if (!built_) {
            if (inOrder_ < files_.size() && files_[inOrder_].getName() == name)
                return &files_[inOrder_++];
            build();
        }
        return takeIndexed(name);
    }

private:
    // Indexes the files not handed out yet.
    void build() {
        built_ = true;
        for (size_t i = inOrder_; i < files_.size(); ++i) entries_.push_back(&files_[i]);
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

    const TBFileInfo* takeIndexed(const TBString& name) {
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

    std::vector<TBFileInfo>& files_;
    size_t inOrder_ = 0;  // files handed out in listing order so far
    bool built_ = false;
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
    if (!filter) {
        if (!listing.isOpen()) {
            RunLog::folderUnreadable(log, folder);
            backupSet->addFailedFolder(folder);
            return;
        }
        TBFileInfo info;
        while (listing.read(info) == 0 && waitAndCheck()) {
            if (terbin::tb_file_isDotEntry(info.getName()))
                continue;
            if (info.isFile()) {
                files.add(std::move(info));
            } else if (info.isDirectory()) {
                folders.add(std::move(info));
            }
        }
        return;
    }
    FolderStep step;
    step.source = folder;
    std::vector<TBFileInfo> subfolders;
    TreeLister::listSource(*this, listing, ownTargets_, step, subfolders);
    reportListing(step);
    for (TBFileInfo& info : step.files) files.add(std::move(info));
    for (TBFileInfo& info : subfolders) folders.add(std::move(info));
}

void BackupJob::reportListing(const FolderStep& step) {
    for (const ScanNote& note : step.notes) {
        const TBString path = TBFilename::concatPaths(step.source, note.name);
        switch (note.kind) {
            case ScanNote::FileSkipped:
                backupSet->filesSkipped += 1;
                break;
            case ScanNote::FolderLinkSkipped:
                RunLog::folderLinkSkipped(log, path);
                backupSet->foldersSkipped += 1;
                break;
            case ScanNote::FolderSkipped:
                RunLog::folderSkipped(log, path);
                backupSet->foldersSkipped += 1;
                break;
            case ScanNote::FileFailed:
                RunLog::sourceNotOpened(log, path, note.error);
                backupSet->addFailedFile(path);
                break;
            case ScanNote::FolderFailed:
                RunLog::folderUnreadable(log, path);
                backupSet->addFailedFolder(path);
                break;
        }
    }
    if (step.sourceFailed) {
        RunLog::folderUnreadable(log, step.source);
        backupSet->addFailedFolder(step.source);
    }
}

uint32_t BackupJob::createTargetFolder(const FolderStep& step, const TBFolder* parent,
                                       std::shared_ptr<TBFolder>& created) {
    for (;;) {
        uint32_t result;
        if (step.depth == 0) {
            // A root is made with its missing parents, by its path.
            result = TBFolder::create(step.target, true);
        } else if (parent == nullptr || parent->handle() < 0) {
            result = terbin::TB_PATH_NOT_FOUND;
        } else {
            result = TBFolder::createIn(*parent, step.name);
            // Made meanwhile by someone else: fine if it is a folder.
            if (result == terbin::TB_ALREADY_EXISTS)
                result = 0;
        }
        if (result == terbin::TB_DISK_FULL) {
            backupSet->waitingForDiskSpace = true;
            if (!runnable())
                return result;
            TBThread::sleep(500);
            continue;
        }
        if (result != 0)
            return result;
        backupSet->waitingForDiskSpace = false;
        wroteFolders_ = true;
        created = step.depth == 0 ? std::make_shared<TBFolder>(step.target)
                                  : std::make_shared<TBFolder>(*parent, step.name);
        if (created->handle() < 0) {
            // Something that is no folder has that name.
            const uint32_t error = created->getError();
            created.reset();
            return error == terbin::TB_PATH_NOT_FOUND ? terbin::TB_ALREADY_EXISTS : error;
        }
        return 0;
    }
}

void BackupJob::removeLeftovers(const FolderStep& step) {
    std::vector<const TBFileInfo*> leftovers;
    for (const TBFileInfo& file : step.targetFiles) {
        if (isTemporaryName(file.getName()))
            leftovers.push_back(&file);
    }
    for (const TBFileInfo* leftover : leftovers) {
        // A source file of that very name is the user's, and so is its copy.
        bool theirs = false;
        for (const TBFileInfo& file : step.files)
            theirs = theirs || file.nameEquals(leftover->getName());
        if (!theirs)
            TBFolder::removeIn(*step.targetFolder, leftover->getName(), false);
    }
}

uint32_t BackupJob::copyFolder(const TBString& source, const TBString& target) {
    TreeLister lister(*this, source, target, ownTargets_);
    // The folders on the path from the root to the one being copied, each
    // with its open target and the result it will hand to its parent.
    struct Level {
        std::shared_ptr<TBFolder> target;
        uint32_t result = 0;
    };
    std::vector<Level> levels;
    uint32_t rootResult = 0;
    auto leaveTo = [&](size_t depth) {
        while (levels.size() > depth) {
            const uint32_t result = levels.back().result;
            levels.pop_back();
            (levels.empty() ? rootResult : levels.back().result) = result;
        }
    };
    // Below a folder whose target could not be made nothing is visited.
    int skipBelow = INT_MAX;

    FolderStep step;
    while (lister.next(step)) {
        if (step.depth > skipBelow)
            continue;
        skipBelow = INT_MAX;
        if (step.depth > 0 && !waitAndCheck())
            break;
        leaveTo(static_cast<size_t>(step.depth));
        if (step.kind == FolderStep::Kind::Loop) {
            // Following links, this folder is already being copied further up
            // the path: entering it again would never end.
            RunLog::folderLinkSkipped(log, step.source);
            backupSet->foldersSkipped += 1;
            continue;
        }

        RunLog::copyingFolder(log, step.source);
        backupSet->foldersScanned += 1;
        backupSet->setState(ScanningFolder, step.source, TBString(), 0, 0);
        reportListing(step);

        Level level;
        level.target = step.targetFolder;
        uint32_t refused = 0;
        switch (step.targetState) {
            case FolderStep::Target::Listed:
                break;
            case FolderStep::Target::Unreadable:
                RunLog::folderUnreadable(log, step.target);
                backupSet->addFailedFolder(step.target);
                // Without a handle nothing can be written into it.
                if (!level.target)
                    refused = terbin::TB_ACCESS_DENIED;
                break;
            case FolderStep::Target::Missing: {
                const TBFolder* parent =
                    step.depth > 0 && !levels.empty() ? levels.back().target.get() : nullptr;
                const uint32_t created = createTargetFolder(step, parent, level.target);
                if (created == terbin::TB_DISK_FULL) {
                    // Stopped while waiting for space.
                    level.result = created;
                    levels.push_back(std::move(level));
                    leaveTo(0);
                    return rootResult;
                }
                if (created != 0) {
                    RunLog::folderNotCreated(log, step.target, created);
                    backupSet->addFailedFolder(step.target);
                    refused = created;
                }
                break;
            }
            case FolderStep::Target::SameAsSource:
                // Copying a folder onto itself could only damage it.
                refused = terbin::TB_INVALID_PARAMETER;
                RunLog::folderNotCreated(log, step.target, refused);
                backupSet->addFailedFolder(step.target);
                break;
        }
        if (refused != 0) {
            level.result = refused;
            levels.push_back(std::move(level));
            skipBelow = step.depth;
            continue;
        }
        if (step.targetFolder)
            removeLeftovers(step);

        TargetIndex index(step.targetFiles);
        // The folder is reported before each file; while no copy has changed
        // the report since, it still stands and is not stored again.
        bool scanningShown = true;
        for (const TBFileInfo& file : step.files) {
            if (!waitAndCheck())
                break;
            if (!scanningShown) {
                backupSet->setState(ScanningFolder, step.source, TBString(), 0, 0);
                scanningShown = true;
            }
            const TBString& name = file.getName();
            if (const TBFileInfo* old = index.take(name)) {
                const int64_t age = file.getLastModificationTime().getTime() -
                                    old->getLastModificationTime().getTime();
                if (old->getSize() == file.getSize() && age > -3 && age < 3) {
                    backupSet->filesUnchanged += 1;
                    continue;
                }
            }
            const TBString from = TBFilename::concatPaths(step.source, name);
            const TBString to = TBFilename::concatPaths(step.target, name);
            backupSet->setState(CopyingFile, from, to, 0, file.getSize());
            scanningShown = false;
            level.result = copyFileAt(*step.sourceFolder, file, *level.target, from, to);
        }
        levels.push_back(std::move(level));
    }
    leaveTo(0);
    return rootResult;
}
