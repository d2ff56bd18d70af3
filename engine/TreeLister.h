// Lists one source tree and its target tree ahead of the copy, on two
// threads of its own: the first walks the source depth first, opening every
// folder at its parent's handle and sorting its entries as the set's filters
// say; the second opens and lists, for each source folder, the target folder
// in the same place. The copy takes the folders in the order it visits them
// (each folder before its subfolders, subfolders in listing order), handed
// over in batches so that the threads meet once per batch rather than once
// per folder. How far the listers run ahead is bounded, so memory grows with
// the largest folder and the depth of the tree, not with its size.
//
// The listers decide nothing that shows: what they find is kept as notes in
// listing order, and the copy logs and counts them when it gets there.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/BackupJob.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFolder.h"
#include "foundation/TBString.h"

// What the listing of a source folder found that is not a file to compare.
struct ScanNote {
    enum Kind : uint8_t {
        FileSkipped,        // excluded file
        FolderLinkSkipped,  // folder link or mount point not followed
        FolderSkipped,      // excluded folder, or a backup's own folder
        FileFailed,         // a file that could not be examined
        FolderFailed,       // a folder that could not be examined
    };
    Kind kind;
    terbin::TBString name;
    uint32_t error = 0;
};

// One folder of the walk, or a folder link that leads back up the path.
struct FolderStep {
    enum class Kind : uint8_t { Folder, Loop };
    enum class Target : uint8_t {
        Listed,        // an existing folder, listed
        Missing,       // nothing of that name, or something that is no folder
        Unreadable,    // a folder that could not be listed
        SameAsSource,  // the very folder being copied
    };

    Kind kind = Kind::Folder;
    int depth = 0;  // 0 for the root
    terbin::TBString name;
    terbin::TBString source;
    terbin::TBString target;
    // Never null for a folder; not open when it could not be opened.
    std::shared_ptr<terbin::TBFolder> sourceFolder;
    // The listing failed, from the start or part-way.
    bool sourceFailed = false;
    std::vector<ScanNote> notes;
    std::vector<terbin::TBFileInfo> files;

    Target targetState = Target::Missing;
    // Set for a listed target, and for an unreadable one that opened.
    std::shared_ptr<terbin::TBFolder> targetFolder;
    std::vector<terbin::TBFileInfo> targetFiles;
};

// A queue between two threads that hands items over in batches: the
// producer gathers a batch and publishes it whole; the consumer takes all
// that is published at once. Each side sleeps only when it must, and is
// woken only when the other found it asleep.
class StepQueue {
public:
    // The producer waits while `limit` published items are not taken yet.
    explicit StepQueue(size_t limit) : limit_(limit) {}

    // False once the consumer has closed the queue.
    bool push(FolderStep&& step);
    // Publishes what is gathered.
    void flush();
    // No more items: publishes what is gathered.
    void finish();
    // The next item; false at the end, or once closed. `beforeWaiting` runs
    // before the call sleeps (a stage flushes its own output there).
    template <typename F>
    bool pop(FolderStep& step, F&& beforeWaiting);
    bool pop(FolderStep& step) {
        return pop(step, [] {});
    }
    // The consumer gives up: pushes fail and waits end.
    void close();

private:
    static constexpr size_t BatchSteps = 32;
    static constexpr size_t BatchEntries = 4096;

    const size_t limit_;
    std::mutex mutex_;
    std::condition_variable producerWake_;
    std::condition_variable consumerWake_;
    bool producerWaiting_ = false;
    bool consumerWaiting_ = false;
    bool finished_ = false;
    bool closed_ = false;
    std::deque<FolderStep> published_;
    // Producer side only.
    std::vector<FolderStep> gathered_;
    size_t gatheredEntries_ = 0;
    // Consumer side only.
    std::deque<FolderStep> taken_;
};

template <typename F>
bool StepQueue::pop(FolderStep& step, F&& beforeWaiting) {
    if (taken_.empty()) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (published_.empty() && !finished_ && !closed_) {
            lock.unlock();
            beforeWaiting();
            lock.lock();
            consumerWaiting_ = true;
            consumerWake_.wait(lock,
                               [this] { return !published_.empty() || finished_ || closed_; });
            consumerWaiting_ = false;
        }
        if (closed_)
            return false;
        taken_.swap(published_);
        if (producerWaiting_)
            producerWake_.notify_one();
    }
    if (taken_.empty())
        return false;
    step = std::move(taken_.front());
    taken_.pop_front();
    return true;
}

class TreeLister {
public:
    using FolderId = BackupJob::FolderId;

    // Starts listing `source` (copied into `target`) for `job`; `ownFolders`
    // are the folders a source walk skips: backups.
    TreeLister(const BackupJob& job, const terbin::TBString& source, const terbin::TBString& target,
               const std::vector<FolderId>& ownFolders);
    // Stops both threads and waits for them.
    ~TreeLister();
    TreeLister(const TreeLister&) = delete;
    TreeLister& operator=(const TreeLister&) = delete;

    // The next folder in copy order; false when the walk is over.
    bool next(FolderStep& step) { return ready_.pop(step); }

    // Lists the open `folder` into `step` (its notes and files) and
    // `subfolders`, sorting entries as the job's set says. Honours the job's
    // pause and stop.
    static void listSource(const BackupJob& job, terbin::TBFolder& folder,
                           const std::vector<FolderId>& ownFolders, FolderStep& step,
                           std::vector<terbin::TBFileInfo>& subfolders);

private:
    void walkSource(terbin::TBString source, terbin::TBString target);
    void listTargets();

    const BackupJob& job_;
    const std::vector<FolderId> ownFolders_;
    StepQueue listed_;  // source listings, on their way to the target lister
    StepQueue ready_;   // both listings, on their way to the copy
    std::thread sourceThread_;
    std::thread targetThread_;
};
