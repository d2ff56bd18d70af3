#include "engine/TargetLister.h"

#include <algorithm>

#include "engine/BackupJob.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFileInfo;
using terbin::TBFolder;
using terbin::TBList;
using terbin::TBString;

TargetLister::TargetLister(const BackupJob& job) : job_(job), thread_([this] { work(); }) {}

TargetLister::~TargetLister() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        quit_ = true;
    }
    listerWake_.notify_one();
    thread_.join();
}

bool TargetLister::isRequested(const TBString& folder) const {
    return busyWith_ == folder || ready_.count(folder) != 0 ||
           std::find(requests_.begin(), requests_.end(), folder) != requests_.end();
}

void TargetLister::prefetch(const TBString& folder) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (isRequested(folder))
            return;
        requests_.push_back(folder);
        wake = listerWaiting_;
    }
    if (wake)
        listerWake_.notify_one();
}

TargetLister::Outcome TargetLister::take(const TBString& folder, TBList<TBFileInfo>& folders,
                                         TBList<TBFileInfo>& files) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!isRequested(folder))
        requests_.push_back(folder);
    // Served next whatever else is waiting, and even when the lister holds
    // as many unclaimed listings as it may.
    auto queued = std::find(requests_.begin(), requests_.end(), folder);
    if (queued != requests_.end())
        std::rotate(queued, queued + 1, requests_.end());
    wanted_ = folder;
    if (ready_.count(folder) == 0) {
        if (listerWaiting_)
            listerWake_.notify_one();
        copyWaiting_ = true;
        copyWake_.wait(lock, [&] { return ready_.count(folder) != 0; });
        copyWaiting_ = false;
    }
    wanted_ = TBString();
    auto ready = ready_.find(folder);
    const Outcome outcome = ready->second.outcome;
    folders = std::move(ready->second.folders);
    files = std::move(ready->second.files);
    ready_.erase(ready);
    if (listerWaiting_ && !requests_.empty())
        listerWake_.notify_one();
    return outcome;
}

void TargetLister::reset() {
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.clear();
    copyWaiting_ = true;
    copyWake_.wait(lock, [this] { return busyWith_.isEmpty(); });
    copyWaiting_ = false;
    ready_.clear();
}

void TargetLister::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        listerWaiting_ = true;
        listerWake_.wait(lock, [this] {
            if (quit_)
                return true;
            if (requests_.empty())
                return false;
            return ready_.size() < MaxReady || requests_.back() == wanted_;
        });
        listerWaiting_ = false;
        if (quit_)
            return;
        busyWith_ = requests_.back();
        requests_.pop_back();
        const TBString folder = busyWith_;
        lock.unlock();
        Listing listing = list(folder);
        lock.lock();
        ready_[folder] = std::move(listing);
        busyWith_ = TBString();
        if (copyWaiting_)
            copyWake_.notify_one();
    }
}

TargetLister::Listing TargetLister::list(const TBString& folder) const {
    Listing result;
    TBFolder listing(folder);
    if (!listing.isOpen()) {
        result.outcome = TBFileInfo::isFolder(folder) ? Outcome::Unreadable : Outcome::Missing;
        return result;
    }
    result.outcome = Outcome::Listed;
    TBFileInfo info;
    while (listing.read(info) == 0) {
        if (!job_.waitAndCheck())
            break;
        const TBString& name = info.getName();
        if (terbin::tb_file_isDotEntry(name))
            continue;
        if (info.isFile()) {
            result.files.add(std::move(info));
        } else if (info.isDirectory()) {
            result.folders.add(std::move(info));
        }
    }
    return result;
}
