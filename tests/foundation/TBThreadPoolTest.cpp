#include "foundation/TBThreadPool.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    explicit TestJob(int n, std::latch* latch = nullptr) : id(n), hold(latch) {}
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
    for (int id = 0; id < 4; ++id) pool.add(new TestJob(id, &release));
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
    TestJob refused(9);  // stays the caller's: the pool must not delete it
    EXPECT_NE(pool.add(&refused), 0);
}

TBThreadPool* observedPool = nullptr;

// Whoever reacts to the notification by adding work must find the finished
// job gone from the count; the job itself is destroyed only after the call.
TEST_F(ThreadPoolTest, FinishedJobNoLongerCountsWhenItsNotificationComes) {
    TBThreadPool pool(1);
    observedPool = &pool;
    pool.setNotificationFunction([](TBJob* job, int code) {
        record("finished " + std::to_string(static_cast<TestJob*>(job)->id) + " code " +
               std::to_string(code) + " count " + std::to_string(observedPool->getTotalJobCount()));
    });
    pool.add(new TestJob(0));
    ASSERT_TRUE(eventually([] { return countEvents("destroy 0") == 1; }));
    pool.shutdown();
    const std::vector<std::string> expected{
        "run 0", "finished 0 code " + std::to_string(TBThreadPool::JobFinished) + " count 0",
        "destroy 0"};
    std::lock_guard<std::mutex> guard(eventsMutex);
    EXPECT_EQ(events, expected);
}

// Outcome of lock(0) tried from a thread of its own (released again).
int lockFromOtherThread(TBLockableObject& object) {
    int result = -1;
    std::thread([&] {
        if ((result = object.lock(0)) == 0)
            object.unlock();
    }).join();
    return result;
}

TEST(LockableObjectTest, OwnerTakesLockTwiceWhileOthersAreKeptOut) {
    TBLockableObject object;
    ASSERT_EQ(object.lockForReading(-1), 0);
    ASSERT_EQ(object.lockForWriting(0), 0);
    object.unlock();
    EXPECT_EQ(lockFromOtherThread(object), 1);
    object.unlock();
    EXPECT_EQ(lockFromOtherThread(object), 0);
}

}  // namespace
