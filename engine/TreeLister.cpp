#include "engine/TreeLister.h"

#include <pthread.h>
#include <sys/resource.h>

#include <mutex>

#include "engine/BackupJob.h"
#include "foundation/TBFilename.h"
#include "foundation/TBResult.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;

namespace {

// Folders waiting in each queue before its producer waits. Each holds open
// handles, so this also bounds how many a walk keeps open.
constexpr size_t LookAhead = 64;
constexpr unsigned CheckEvery = 16;

// A walk keeps a handle open for each folder on its path and for each one
// listed ahead; the usual soft limit of 1024 would be met by a deep tree.
void raiseHandleLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct rlimit limit {};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
}

}  // namespace

bool StepQueue::push(FolderStep&& step) {
    gatheredEntries_ += step.files.size() + step.targetFiles.size() + step.notes.size() + 1;
    gathered_.push_back(std::move(step));
    if (gathered_.size() < BatchSteps && gatheredEntries_ < BatchEntries)
        return true;
    flush();
    std::lock_guard<std::mutex> guard(mutex_);
    return !closed_;
}

void StepQueue::flush() {
    if (gathered_.empty())
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    producerWaiting_ = true;
    producerWake_.wait(lock, [this] { return published_.size() < limit_ || closed_; });
    producerWaiting_ = false;
    if (closed_) {
        gathered_.clear();
    } else {
        for (FolderStep& step : gathered_) published_.push_back(std::move(step));
        gathered_.clear();
        if (consumerWaiting_)
            consumerWake_.notify_one();
    }
    gatheredEntries_ = 0;
}

void StepQueue::finish() {
    flush();
    std::lock_guard<std::mutex> guard(mutex_);
    finished_ = true;
    consumerWake_.notify_one();
}

void StepQueue::close() {
    std::lock_guard<std::mutex> guard(mutex_);
    closed_ = true;
    published_.clear();
    producerWake_.notify_one();
    consumerWake_.notify_one();
}

TreeLister::TreeLister(const BackupJob& job, const TBString& source, const TBString& target,
                       const std::vector<FolderId>& ownFolders)
    : job_(job), ownFolders_(ownFolders), listed_(LookAhead), ready_(LookAhead) {
    raiseHandleLimit();
    sourceThread_ = std::thread([this, source, target] {
        pthread_setname_np(pthread_self(), "ulv-source");
        walkSource(source, target);
    });
    targetThread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "ulv-target");
        listTargets();
    });
}

TreeLister::~TreeLister() {
    ready_.close();
    listed_.close();
    sourceThread_.join();
    targetThread_.join();
}

void TreeLister::listSource(const BackupJob& job, TBFolder& folder,
                            const std::vector<FolderId>& ownFolders, FolderStep& step,
                            std::vector<TBFileInfo>& subfolders) {
    subfolders.clear();
    if (!folder.isOpen()) {
        step.sourceFailed = true;
        return;
    }
    const BackupSet& set = *job.backupSet;
    const bool follow = set.backupFollowSymLinks != 0;
    TBFileInfo info;
    // Pause and stop are looked at every few entries: often enough for a
    // person, and seldom enough not to show in a walk.
    for (unsigned seen = 1; folder.read(info) == 0; ++seen) {
        if (seen % CheckEvery == 0 && !job.waitAndCheck())
            return;
        const TBString& name = info.getName();
        if (terbin::tb_file_isDotEntry(name))
            continue;
        if (info.getError() != 0) {
            step.notes.push_back(
                {info.isListedAsFolder() ? ScanNote::FolderFailed : ScanNote::FileFailed, name,
                 info.getError()});
        } else if (info.isFile()) {
            if (set.isFileExcluded(name)) {
                step.notes.push_back({ScanNote::FileSkipped, TBString()});
            } else {
                step.files.push_back(std::move(info));
            }
        } else if (info.isDirectory()) {
            const bool elsewhere = info.isSymbolicLink() || info.isReparsePoint();
            // Kernel pseudo file systems hold nothing to keep, and reading
            // some of them never ends: never entered, even when asked to.
            if (elsewhere && (!follow || terbin::tb_file_isPseudoFileSystem(info.getDevice()))) {
                step.notes.push_back({ScanNote::FolderLinkSkipped, name});
                continue;
            }
            if (set.isFolderExcluded(TBFilename::concatPaths(folder.path(), name))) {
                step.notes.push_back({ScanNote::FolderSkipped, name});
                continue;
            }
            bool own = false;
            for (const FolderId& id : ownFolders)
                own = own || (id.device == info.getDevice() && id.inode == info.getInode());
            if (own) {
                step.notes.push_back({ScanNote::FolderSkipped, name});
            } else {
                subfolders.push_back(std::move(info));
            }
        }
        // FIFOs, sockets, devices and dangling links are not backed up.
    }
    // A listing that ended early leaves the rest of the folder unknown.
    if (folder.getError() != 0 && job.runnable())
        step.sourceFailed = true;
}

void TreeLister::walkSource(TBString source, TBString target) {
    struct Frame {
        std::shared_ptr<TBFolder> folder;
        std::vector<TBFileInfo> subfolders;
        size_t next = 0;
        TBString target;
    };
    std::vector<Frame> path;

    auto visit = [&](std::shared_ptr<TBFolder> folder, const TBString& name,
                     const TBString& targetPath) {
        FolderStep step;
        step.depth = static_cast<int>(path.size());
        step.name = name;
        step.source = folder->path();
        step.target = targetPath;
        step.sourceFolder = folder;
        Frame frame{folder, {}, 0, targetPath};
        if (folder->handle() >= 0 && terbin::tb_file_isPseudoFileSystem(folder->getDevice())) {
            // Only a root can be here: below one such folders are skipped.
            step.notes.push_back({ScanNote::FolderLinkSkipped, TBString()});
        } else {
            listSource(job_, *folder, ownFolders_, step, frame.subfolders);
        }
        path.push_back(std::move(frame));
        return listed_.push(std::move(step));
    };

    auto root = std::make_shared<TBFolder>(source, TBFolder::Fields::ChangeTest);
    bool going = visit(root, TBString(), target);
    while (going && !path.empty() && job_.runnable()) {
        Frame& top = path.back();
        if (top.next == top.subfolders.size()) {
            path.pop_back();
            continue;
        }
        const TBFileInfo entry = std::move(top.subfolders[top.next++]);
        bool onPath = false;
        for (const Frame& open : path) {
            onPath = onPath || (open.folder->getDevice() == entry.getDevice() &&
                                open.folder->getInode() == entry.getInode());
        }
        const TBString childTarget = TBFilename::concatPaths(top.target, entry.getName());
        if (onPath) {
            // Following links, this folder is already being copied further up
            // the path: entering it again would never end.
            FolderStep loop;
            loop.kind = FolderStep::Kind::Loop;
            loop.depth = static_cast<int>(path.size());
            loop.name = entry.getName();
            loop.source = TBFilename::concatPaths(top.folder->path(), entry.getName());
            loop.target = childTarget;
            going = listed_.push(std::move(loop));
            continue;
        }
        auto folder = std::make_shared<TBFolder>(*top.folder, entry, TBFolder::Fields::ChangeTest);
        going = visit(std::move(folder), entry.getName(), childTarget);  // `top` is gone now
    }
    listed_.finish();
}

void TreeLister::listTargets() {
    // The target folder of each depth on the current path; null where there
    // is none to open anything in.
    std::vector<std::shared_ptr<TBFolder>> path;
    FolderStep step;
    while (listed_.pop(step, [this] { ready_.flush(); })) {
        if (step.kind == FolderStep::Kind::Folder) {
            path.resize(static_cast<size_t>(step.depth));
            std::shared_ptr<TBFolder> folder;
            if (step.depth == 0) {
                folder = std::make_shared<TBFolder>(step.target, TBFolder::Fields::ChangeTest);
            } else if (path.back()) {
                folder = std::make_shared<TBFolder>(*path.back(), step.name,
                                                    TBFolder::Fields::ChangeTest);
            }
            const TBFolder* source = step.sourceFolder.get();
            if (!folder || folder->handle() < 0) {
                const uint32_t error = folder ? folder->getError() : terbin::TB_FILE_NOT_FOUND;
                // Nothing there, or something that is no folder: the copy
                // tries to create it, and says why that fails.
                step.targetState =
                    (error == terbin::TB_FILE_NOT_FOUND || error == terbin::TB_PATH_NOT_FOUND)
                        ? FolderStep::Target::Missing
                        : FolderStep::Target::Unreadable;
                folder.reset();
            } else if (source->handle() >= 0 && folder->getDevice() == source->getDevice() &&
                       folder->getInode() == source->getInode()) {
                step.targetState = FolderStep::Target::SameAsSource;
                folder.reset();
            } else {
                step.targetState = FolderStep::Target::Listed;
                // The copy compares files only.
                folder->passOverFolders();
                TBFileInfo info;
                for (unsigned seen = 1; folder->read(info) == 0; ++seen) {
                    if (seen % CheckEvery == 0 && !job_.waitAndCheck())
                        break;
                    // A link in a backup is not a copy of anything: the file
                    // is copied again and replaces it.
                    if (info.isFile() && !info.isSymbolicLink())
                        step.targetFiles.push_back(std::move(info));
                }
                if (!folder->isOpen() || (folder->getError() != 0 && job_.runnable())) {
                    step.targetState = FolderStep::Target::Unreadable;
                    step.targetFiles.clear();
                }
                step.targetFolder = folder;
            }
            path.push_back(std::move(folder));
        }
        if (!ready_.push(std::move(step)))
            break;
        step = FolderStep();
    }
    ready_.finish();
    listed_.close();
}
