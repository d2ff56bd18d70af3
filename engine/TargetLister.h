// Lists target folders on a thread of its own, ahead of the copy, so that the
// target side's metadata queries overlap with the source side's. The copy
// asks for the listings of the folders it is about to enter (prefetch) and
// takes each when it gets there; the lister serves the request made last
// first, which matches the copy's depth-first order, and holds at most a few
// finished listings that nobody has taken yet.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "foundation/TBFileInfo.h"
#include "foundation/TBList.h"
#include "foundation/TBString.h"

class BackupJob;

class TargetLister {
public:
    enum class Outcome { Listed, Missing, Unreadable };

    explicit TargetLister(const BackupJob& job);
    // Ends the thread after the listing in progress, if any.
    ~TargetLister();
    TargetLister(const TargetLister&) = delete;
    TargetLister& operator=(const TargetLister&) = delete;

    // Asks for the listing of `folder`; it will be taken with take().
    void prefetch(const terbin::TBString& folder);
    // The listing of `folder`: all entries but "." and ".." in listing
    // order, gathered while honouring the job's pause and stop. Waits for it
    // when it is not ready. Missing: there is no folder at that path;
    // Unreadable: a folder is there but cannot be listed.
    Outcome take(const terbin::TBString& folder, terbin::TBList<terbin::TBFileInfo>& folders,
                 terbin::TBList<terbin::TBFileInfo>& files);
    // Drops every request and every listing not yet taken.
    void reset();

private:
    struct Listing {
        Outcome outcome = Outcome::Missing;
        terbin::TBList<terbin::TBFileInfo> folders;
        terbin::TBList<terbin::TBFileInfo> files;
    };
    static constexpr size_t MaxReady = 32;

    void work();
    Listing list(const terbin::TBString& folder) const;
    bool isRequested(const terbin::TBString& folder) const;

    const BackupJob& job_;
    std::mutex mutex_;
    // Wakes the lister (work to do, or room for more) and the copy (its
    // listing is ready). Each side is woken only while it waits, as wake-ups
    // cost more than a small listing.
    std::condition_variable listerWake_;
    std::condition_variable copyWake_;
    bool listerWaiting_ = false;
    bool copyWaiting_ = false;
    std::vector<terbin::TBString> requests_;  // the last is served first
    std::unordered_map<terbin::TBString, Listing> ready_;
    terbin::TBString busyWith_;  // being listed now (empty when idle)
    terbin::TBString wanted_;    // what take() waits for (empty when none)
    bool quit_ = false;
    std::thread thread_;
};
