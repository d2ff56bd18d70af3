#include "foundation/TBFileLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST_F(TBFileLockTest, AnotherProcessHoldsTheLockUntilItEnds) {
    int up[2], down[2];
    ASSERT_EQ(pipe(up), 0);
    ASSERT_EQ(pipe(down), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the lock until the parent closes its end of `down`.
        close(down[1]);
        TBFileLock lock;
        const char held = lock.acquire(lockPath) == TB_OK ? 'y' : 'n';
        char byte;
        _exit(write(up[1], &held, 1) == 1 && read(down[0], &byte, 1) == 0 ? 0 : 1);
    }
    close(up[1]);
    close(down[0]);
    char held = 0;
    EXPECT_EQ(read(up[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    TBFileLock lock;
    EXPECT_EQ(lock.acquire(lockPath), TB_LOCK_HELD);
    EXPECT_EQ(lock.holder(), child);
    close(down[1]);
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    close(up[0]);
    // Its id is still in the file, but its lock ended with it.
    EXPECT_EQ(readFile(path), std::to_string(child) + "\n");
    EXPECT_EQ(lock.acquire(lockPath), TB_OK);
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
