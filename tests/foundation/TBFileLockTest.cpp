#include "foundation/TBFileLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "foundation/TBResult.h"
#include "support/FaultySystem.h"
#include "support/TempDir.h"

using namespace terbin;

class TBFileLockTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::string path = dir / "locks/set.lock";
    const TBString lockPath = TBString::fromBytes(path);
};

TEST_F(TBFileLockTest, SecondLockInTheSameProcessIsRefusedUntilTheFirstIsReleased) {
    TBFileLock first, second;
    ASSERT_EQ(first.acquire(lockPath), TB_OK);
    struct stat folder {};
    ASSERT_EQ(::stat((dir / "locks").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(readFile(path), std::to_string(getpid()) + "\n");
    EXPECT_EQ(second.acquire(lockPath), TB_LOCK_HELD);
    EXPECT_EQ(second.holder(), getpid());
    EXPECT_FALSE(second.isHeld());
    first.release();
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(second.acquire(lockPath), TB_OK);
}

TEST_F(TBFileLockTest, FailuresHoldNothingAndDamageNothing) {
    TBFileLock lock;
    {
        FaultySystem system;
        system.fail(FaultySystem::Write, "set.lock", ENOSPC);
        EXPECT_EQ(lock.acquire(lockPath), TB_DISK_FULL);
        EXPECT_FALSE(lock.isHeld());
    }
    // A link in place of the lock file is never followed, so its target is never emptied.
    writeFile(dir / "precious", "data");
    ASSERT_EQ(symlink((dir / "precious").c_str(), (dir / "link.lock").c_str()), 0);
    EXPECT_EQ(lock.acquire(TBString::fromBytes(dir / "link.lock")), TB_ACCESS_DENIED);
    EXPECT_EQ(readFile(dir / "precious"), "data");
    writeFile(dir / "file", "");
    EXPECT_EQ(lock.acquire(TBString::fromBytes(dir / "file/set.lock")), TB_PATH_NOT_FOUND);
    EXPECT_FALSE(lock.isHeld());
    EXPECT_EQ(lock.holder(), 0);
}
