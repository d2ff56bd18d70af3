// Jobs and the pool of worker threads that runs them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/TBLockableObject.h"

namespace terbin {

// A unit of work for a TBThreadPool. The pool owns a job once it has accepted
// it and destroys it after it has run (or, at shutdown, without running it).
class TBJob : public TBLockableObject {
public:
    // Called with the job and one of TBThreadPool's Job… codes.
    using NotificationFunction = void (*)(TBJob* job, int code);

    explicit TBJob(NotificationFunction perJob = nullptr) : notification_(perJob) {}
    ~TBJob() override;
    TBJob(const TBJob&) = delete;
    TBJob& operator=(const TBJob&) = delete;

    // The work, on a worker thread. Must not throw.
    virtual uint32_t run() = 0;

    // The job's own notification function (null for none); may be changed
    // from any thread.
    NotificationFunction getNotificationFunction() const { return notification_.load(); }
    void setNotificationFunction(NotificationFunction f) { notification_.store(f); }

private:
    std::atomic<NotificationFunction> notification_;
};

// Runs jobs on a fixed set of worker threads, started at construction, taking
// them in the order they were added.
//
// When a job's run() has returned, its worker stops counting it, then calls
// the pool's notification function and then the job's own, each (where set)
// with JobFinished, while the job still exists; then it destroys the job.
// Notifications come on the worker thread. The workers are named
// WorkerThreadName.
class TBThreadPool {
public:
    // Notification codes. The pool delivers JobFinished; the others are for
    // callers that report on jobs themselves.
    static constexpr int JobQueued = 1;
    static constexpr int JobStarted = 2;
    static constexpr int JobFinished = 3;
    // The name every worker thread carries (as in /proc/PID/task/TID/comm).
    static constexpr const char* WorkerThreadName = "tb-pool";

    // Starts `workers` threads (at least one).
    explicit TBThreadPool(int workers);
    // Shuts the pool down (see shutdown()).
    ~TBThreadPool();
    TBThreadPool(const TBThreadPool&) = delete;
    TBThreadPool& operator=(const TBThreadPool&) = delete;

    // Queues `job` and takes ownership of it; returns 0. Returns -1 for a null
    // job or a pool that has been shut down, and then the caller keeps the job.
    int add(TBJob* job);
    // Jobs queued plus jobs running. A job counts until its run() has
    // returned, so by its JobFinished notification it no longer does; it may
    // still be being destroyed on its worker after the count has reached 0.
    int getTotalJobCount();
    // Sets the pool-wide notification function; null for none.
    void setNotificationFunction(TBJob::NotificationFunction f);
    // Destroys the queued jobs without running them, waits for the running
    // jobs to finish and ends the workers. Later calls do nothing; add()
    // refuses jobs from then on. Not to be called from a job or notification.
    void shutdown();

private:
    void work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TBJob*> queue_;
    int jobCount_ = 0;
    bool stopping_ = false;
    std::atomic<TBJob::NotificationFunction> notification_{nullptr};

    std::mutex joinMutex_;  // held while shutdown() ends the workers
    std::vector<std::thread> workers_;
};

}  // namespace terbin
