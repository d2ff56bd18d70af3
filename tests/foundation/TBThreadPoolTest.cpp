#include "foundation/TBThreadPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/TBThread.h"
#include "support/Eventually.h"

using namespace terbin;

namespace {

std::mutex eventsMutex;
std::vector<std::string> events;

void record(const std::string& event) {
    std::lock_guard<std::mutex> guard(eventsMutex);
    events.push_back(event);
}

size_t countEvents(const std::string& prefix) {
    std::lock_guard<std::mutex> guard(eventsMutex);
    return static_cast<size_t>(std::count_if(events.begin(), events.end(),
                                             [&](const auto& e) { return e.starts_with(prefix); }));
}

// Records its run and its end; given a latch, it waits for it while running.
class TestJob : public TBJob {
public:
    TestJob(int n, NotificationFunction f, std::latch* latch = nullptr)
        : TBJob(f), id(n), hold(latch) {}
    ~TestJob() override { record("destroy " + std::to_string(id)); }
    uint32_t run() override {
        record("run " + std::to_string(id));
        if (hold != nullptr)
            hold->wait();
        return 0;
    }

    const int id;
    std::latch* const hold;
};

class ThreadPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> guard(eventsMutex);
        events.clear();
    }
};

TEST_F(ThreadPoolTest, CountIncludesTheRunningJobAndShutdownDiscardsTheQueuedOnes) {
    std::latch release{1};
    TBThreadPool pool(1);
    for (int id = 0; id < 4; ++id) pool.add(new TestJob(id, nullptr, &release));
    ASSERT_TRUE(eventually([] { return countEvents("run ") == 1; }));
    EXPECT_EQ(pool.getTotalJobCount(), 4);
    std::thread stopper([&] { pool.shutdown(); });
    ASSERT_TRUE(eventually([] { return countEvents("destroy ") == 3; }));
    EXPECT_EQ(countEvents("destroy 0"), 0u) << "the running job is waited for";
    release.count_down();
    stopper.join();
    EXPECT_EQ(countEvents("destroy 0"), 1u);
    EXPECT_EQ(countEvents("run "), 1u);
    EXPECT_EQ(pool.getTotalJobCount(), 0);
    TestJob refused(9, nullptr);  // stays the caller's: the pool must not delete it
    EXPECT_NE(pool.add(&refused), 0);
}

TBThreadPool* observedPool = nullptr;

// Records who was notified of which job and what the pool counted then.
void recordCount(const char* who, TBJob* job, int code) {
    EXPECT_EQ(code, TBThreadPool::JobFinished);
    record(std::string(who) + " " + std::to_string(static_cast<TestJob*>(job)->id) + " count " +
           std::to_string(observedPool->getTotalJobCount()));
}

// Whoever reacts to a notification by adding work must find the finished job
// gone from the count; the job itself is destroyed only after both calls.
TEST_F(ThreadPoolTest, FinishedJobNoLongerCountsWhenItsNotificationsCome) {
    std::latch release{1};
    TBThreadPool pool(1);
    observedPool = &pool;
    pool.setNotificationFunction([](TBJob* job, int code) { recordCount("pool", job, code); });
    const auto jobNotified = [](TBJob* job, int code) { recordCount("job", job, code); };
    pool.add(new TestJob(0, jobNotified, &release));
    pool.add(new TestJob(1, jobNotified));
    release.count_down();
    ASSERT_TRUE(eventually([] { return countEvents("destroy 1") == 1; }));
    pool.shutdown();
    const std::vector<std::string> expected{"run 0",         "pool 0 count 1", "job 0 count 1",
                                            "destroy 0",     "run 1",          "pool 1 count 0",
                                            "job 1 count 0", "destroy 1"};
    std::lock_guard<std::mutex> guard(eventsMutex);
    EXPECT_EQ(events, expected);
}

// Outcome of lock(timeoutMs) tried from a thread of its own (released again).
int lockFromOtherThread(TBLockableObject& object, int64_t timeoutMs) {
    int result = -1;
    std::thread([&] {
        if ((result = object.lock(timeoutMs)) == 0)
            object.unlock();
    }).join();
    return result;
}

TEST(LockableObjectTest, OwnerTakesLockTwiceWhileOthersTimeOut) {
    TBLockableObject object;
    ASSERT_EQ(object.lockForReading(-1), 0);
    ASSERT_EQ(object.lockForWriting(0), 0);
    object.unlock();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(lockFromOtherThread(object, 100), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    object.unlock();
    EXPECT_EQ(lockFromOtherThread(object, 0), 0);
}

}  // namespace
