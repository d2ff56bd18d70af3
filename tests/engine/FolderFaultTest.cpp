// Folders that cannot be listed or created, on either side of a run: each is
// recorded and the rest of the tree is still copied; a full disk while
// creating one is waited out.
#include <cerrno>
#include <vector>

#include <gmock/gmock.h>

#include "support/FaultySystem.h"
#include "tests/engine/RunFixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class FolderFaultTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        plainLayout();
        writeFile(source + "/top.txt", "top");
        writeFile(source + "/sub/inner.txt", "inner");
        writeFile(source + "/sub/deeper/leaf.txt", "leaf");
        writeFile(source + "/sibling/next.txt", "next");
    }

    FaultySystem faults;
};

TEST_F(FolderFaultTest, FullDiskWhileCreatingAFolderIsWaitedOutAndTheCopyGoesOn) {
    // The target of "deeper" meets a full disk twice; the third try finds room.
    std::vector<bool> waitingAtRetry;
    faults.onMkdir("dst/sub/deeper", [&](int call) {
        if (call > 0)
            waitingAtRetry.push_back(set.waitingForDiskSpace);
        return call < 2 ? ENOSPC : 0;
    });
    run();
    EXPECT_THAT(waitingAtRetry, ElementsAre(true, true)) << "the wait shows while it lasts";
    EXPECT_FALSE(set.waitingForDiskSpace) << "and clears once the folder is made";
    EXPECT_EQ(set.status, Complete);
    EXPECT_TRUE(set.failedFolders.isEmpty());
    EXPECT_EQ(readFile(target + "/sub/inner.txt"), "inner");
    EXPECT_EQ(readFile(target + "/sub/deeper/leaf.txt"), "leaf");
    EXPECT_EQ(set.filesCopied, 4);
}

TEST_F(FolderFaultTest, StopEndsTheWaitForDiskSpace) {
    int tries = 0;
    faults.onMkdir("dst/sub", [&](int call) {
        tries = call + 1;
        if (call == 1)
            set.stopRequested = true;
        return call < 5 ? ENOSPC : 0;  // room at last, should the stop go unseen
    });
    run();
    EXPECT_EQ(tries, 2) << "no further try after the stop";
    EXPECT_EQ(set.status, Cancelled);
    EXPECT_FALSE(exists(target + "/sub"));
    EXPECT_EQ(readFile(target + "/top.txt"), "top");
}

TEST_F(FolderFaultTest, UnreadableSourceFolderFailsAloneAndStillGetsItsTargetFolder) {
    faults.failListing("src/sub", EACCES);
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(source + "/sub"));
    EXPECT_TRUE(set.failedFiles.isEmpty());
    EXPECT_TRUE(exists(target + "/sub"));
    EXPECT_FALSE(exists(target + "/sub/inner.txt"));
    EXPECT_EQ(readFile(target + "/top.txt"), "top");
    EXPECT_EQ(readFile(target + "/sibling/next.txt"), "next");
    EXPECT_EQ(set.filesCopied, 2);
    EXPECT_THAT(log(), Contains(" failed to open folder " + source + "/sub "));
    EXPECT_THAT(log(), Contains("    " + source + "/sub"));
}

TEST_F(FolderFaultTest, UnlistableTargetFolderIsRecordedAndItsFilesCopiedAgain) {
    run();
    ASSERT_EQ(set.status, Complete);
    faults.failListing("dst/sub", EACCES);
    run();
    // With the old copies out of sight, both files of "sub" (the one below
    // it and the one in "deeper", whose own listing fails too) are copied
    // again; the other two are unchanged.
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(target + "/sub", target + "/sub/deeper"));
    EXPECT_EQ(set.filesCopied, 2);
    EXPECT_EQ(set.filesUnchanged, 2);
    EXPECT_EQ(readFile(target + "/sub/deeper/leaf.txt"), "leaf");
}

TEST_F(FolderFaultTest, TargetFolderThatCannotBeCreatedSkipsItsTreeOnly) {
    faults.onMkdir("dst/sub", [](int) { return EACCES; });
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(target + "/sub"));
    EXPECT_FALSE(exists(target + "/sub"));
    EXPECT_EQ(readFile(target + "/top.txt"), "top");
    EXPECT_EQ(readFile(target + "/sibling/next.txt"), "next");
    EXPECT_EQ(set.filesCopied, 2);
    EXPECT_EQ(set.foldersScanned, 3) << "src, sub and sibling; never deeper";
    // EACCES is result 5.
    EXPECT_THAT(log(), Contains(" failed to create folder " + target + "/sub - res = 5 (0x5)"));
    EXPECT_THAT(log(), Not(Contains(HasSubstr("deeper"))));
}

}  // namespace
