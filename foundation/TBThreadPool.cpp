#include "foundation/TBThreadPool.h"

#include <pthread.h>

#include <algorithm>
#include <utility>

namespace terbin {

TBJob::~TBJob() = default;

TBThreadPool::TBThreadPool(int workers) {
    const int count = std::max(workers, 1);
    workers_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        workers_.emplace_back(&TBThreadPool::work, this);
    }
}

TBThreadPool::~TBThreadPool() {
    shutdown();
}

int TBThreadPool::add(TBJob* job) {
    if (job == nullptr) {
        return -1;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (stopping_) {
            return -1;
        }
        queue_.push_back(job);
        ++jobCount_;
    }
    wake_.notify_one();
    return 0;
}

int TBThreadPool::getTotalJobCount() {
    std::lock_guard<std::mutex> guard(mutex_);
    return jobCount_;
}

void TBThreadPool::setNotificationFunction(TBJob::NotificationFunction f) {
    notification_.store(f);
}

void TBThreadPool::shutdown() {
    std::lock_guard<std::mutex> joinGuard(joinMutex_);
    std::deque<TBJob*> discarded;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
        discarded.swap(queue_);
        jobCount_ -= static_cast<int>(discarded.size());
    }
    wake_.notify_all();
    // Destroyed outside the pool's lock: a job's destructor may well ask the
    // pool for its count.
    for (TBJob* job : discarded) {
        delete job;
    }
    for (std::thread& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
    workers_.clear();
}

void TBThreadPool::work() {
    // Named so that the thread list of a process (top -H, /proc) tells the
    // pool's workers from the threads that serve the user.
    pthread_setname_np(pthread_self(), WorkerThreadName);
    for (;;) {
        TBJob* job = nullptr;
        {
            std::unique_lock<std::mutex> guard(mutex_);
            wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
            // shutdown() empties the queue as it sets stopping_, so nothing
            // is left behind when a worker leaves here.
            if (queue_.empty()) {
                return;
            }
            job = queue_.front();
            queue_.pop_front();
        }
        job->run();
        // The job stops counting before anyone hears that it has finished: a
        // caller that reacts to the notification by adding work must find
        // the job gone from the count, not still "running".
        {
            std::lock_guard<std::mutex> guard(mutex_);
            --jobCount_;
        }
        if (TBJob::NotificationFunction poolWide = notification_.load()) {
            poolWide(job, JobFinished);
        }
        if (TBJob::NotificationFunction own = job->getNotificationFunction()) {
            own(job, JobFinished);
        }
        delete job;
    }
}

}  // namespace terbin
