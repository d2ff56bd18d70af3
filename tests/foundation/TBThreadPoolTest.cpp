#include "foundation/TBThreadPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/TBThread.h"

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

// Waits up to ten seconds for `done` to hold.
template <typename Condition>
bool eventually(Condition done) {
    for (int i = 0; i < 10000 && !done(); ++i) {
        TBThread::sleep(1);
    }
    return done();
}

// Records its run and its end. Given latches, it says when it has started
// and then waits to be released.
class TestJob : public TBJob {
  public:
    explicit TestJob(int n, NotificationFunction f = nullptr, std::latch* go = nullptr,
                     std::latch* hold = nullptr)
        : TBJob(f), id(n), started(go), release(hold) {}
    ~TestJob() override { record("destroy " + std::to_string(id)); }
    uint32_t run() override {
        record("run " + std::to_string(id));
        if (started != nullptr) {
            started->count_down();
            release->wait();
        }
        ran = true;
        return 0;
    }

    const int id;
    bool ran = false;
    std::latch* started;
    std::latch* release;
};

void notified(const std::string& who, TBJob* job, int code) {
    const auto* test = static_cast<TestJob*>(job);
    record(who + " " + std::to_string(test->id) + " code " + std::to_string(code) +
           (test->ran ? " after run" : ""));
}
void poolNotified(TBJob* job, int code) {
    notified("pool", job, code);
}
void jobNotified(TBJob* job, int code) {
    notified("job", job, code);
}

class ThreadPoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::lock_guard<std::mutex> guard(eventsMutex);
        events.clear();
    }
    std::latch started{1};
    std::latch release{1};
};

TEST_F(ThreadPoolTest, RunsJobsInQueueOrderAndNotifiesBeforeDestroying) {
    TBThreadPool pool(1);
    pool.setNotificationFunction(poolNotified);
    std::vector<std::string> expected;
    for (int id = 0; id < 5; ++id) {
        ASSERT_EQ(pool.add(new TestJob(id, jobNotified)), 0);
        const std::string n = std::to_string(id);
        expected.insert(expected.end(), {"run " + n, "pool " + n + " code 3 after run",
                                         "job " + n + " code 3 after run", "destroy " + n});
    }
    ASSERT_TRUE(eventually([&] { return pool.getTotalJobCount() == 0; }));
    std::lock_guard<std::mutex> guard(eventsMutex);
    EXPECT_EQ(events, expected);
}

TEST_F(ThreadPoolTest, CountIncludesTheRunningJob) {
    TBThreadPool pool(1);
    for (int id = 0; id < 3; ++id) {
        pool.add(new TestJob(id, nullptr, id == 0 ? &started : nullptr, &release));
    }
    started.wait();
    EXPECT_EQ(pool.getTotalJobCount(), 3);
    release.count_down();
    EXPECT_TRUE(eventually([&] { return pool.getTotalJobCount() == 0; }));
    EXPECT_EQ(countEvents("destroy "), 3u);
}

TEST_F(ThreadPoolTest, ShutdownDiscardsQueuedJobsAndWaitsForTheRunningOne) {
    TBThreadPool pool(1);
    for (int id = 0; id < 4; ++id) {
        pool.add(new TestJob(id, nullptr, id == 0 ? &started : nullptr, &release));
    }
    started.wait();
    std::thread stopper([&] { pool.shutdown(); });
    ASSERT_TRUE(eventually([] { return countEvents("destroy ") == 3; }));
    EXPECT_EQ(countEvents("destroy 0"), 0u);
    release.count_down();
    stopper.join();
    EXPECT_EQ(countEvents("destroy 0"), 1u);
    EXPECT_EQ(countEvents("run "), 1u);
    EXPECT_EQ(pool.getTotalJobCount(), 0);

    TestJob refused(9);  // stays the caller's: the pool must not delete it
    EXPECT_NE(pool.add(&refused), 0);
    pool.shutdown();
}

// Outcome of lock(timeoutMs) tried from a thread of its own (released again).
int lockFromOtherThread(TBLockableObject& object, int64_t timeoutMs) {
    int result = -1;
    std::thread([&] {
        result = object.lock(timeoutMs);
        if (result == 0) {
            object.unlock();
        }
    }).join();
    return result;
}

TEST(LockableObjectTest, OwnerTakesLockTwiceWhileOthersTimeOut) {
    TBLockableObject object;
    object.synchronize();
    ASSERT_EQ(object.lockForReading(-1), 0);
    ASSERT_EQ(object.lockForWriting(0), 0);
    object.unlock();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(lockFromOtherThread(object, 100), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    object.unlock();
    EXPECT_EQ(lockFromOtherThread(object, 0), 0);
}

TEST(LockableObjectTest, CopyHasAnUnlockedLockOfItsOwn) {
    TBLockableObject original;
    ASSERT_EQ(original.lock(-1), 0);
    TBLockableObject copy(original);
    EXPECT_EQ(lockFromOtherThread(copy, 0), 0);
    EXPECT_EQ(lockFromOtherThread(original, 0), 1);
    original.unlock();
}

}  // namespace
