// Trees a run must get through without harm to the rest: special entries,
// odd names, file links, folders that cannot be listed or created on either
// side, and a pause or a stop.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gmock/gmock.h>

#include "support/FaultySystem.h"
#include "tests/engine/RunFixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class HostileTreeTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        plainLayout();
    }
    // Regular files below `root`, leaving out the run's log.
    static long countFiles(const std::string& root) {
        namespace fs = std::filesystem;
        return std::count_if(fs::recursive_directory_iterator(root), {}, [](const auto& entry) {
            return entry.is_regular_file() && entry.path().extension() != ".log";
        });
    }

    FaultySystem faults;
};

TEST_F(HostileTreeTest, SpecialEntriesAreLeftAloneOddNamesCopiedAndAVanishingFileFailsAlone) {
    const std::string names[] = {std::string("bad-\xff\xfe-utf8"), "line\nbreak",
                                 std::string(255, 'n'), "back\\slash", "star*?[x]"};
    for (const auto& name : names) writeFile(source + "/" + name, name);
    writeFile(source + "/dir\nwith\xff/inner", "inner");
    writeFile(source + "/real.txt", "real");
    ASSERT_EQ(symlink("real.txt", (source + "/alias.txt").c_str()), 0);
    ASSERT_EQ(symlink("missing", (source + "/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((source + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(mknod((source + "/sock").c_str(), S_IFSOCK | 0600, 0), 0);
    writeFile(source + "/gone.txt", "soon gone");
    faults.fail(FaultySystem::Open, "src/gone.txt", ENOENT);
    run();  // a FIFO that were opened would block here for ever
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(source + "/gone.txt"));
    EXPECT_TRUE(set.failedFolders.isEmpty());
    EXPECT_THAT(log(), Contains("    " + source + "/gone.txt"));
    for (const auto& name : names) EXPECT_EQ(readFile(target + "/" + name), name);
    EXPECT_EQ(readFile(target + "/dir\nwith\xff/inner"), "inner");
    EXPECT_EQ(readFile(target + "/alias.txt"), "real") << "a file link is copied as a file";
    for (const char* special : {"dangling", "fifo", "sock"})
        EXPECT_FALSE(exists(target + "/" + special)) << special;
    EXPECT_EQ(set.filesCopied, 8);
}

TEST_F(HostileTreeTest, PausedRunHoldsAndCompletesWhileAStoppedOneEndsCancelled) {
    constexpr int Files = 30;
    for (int i = 0; i < Files; ++i)
        writeFile(source + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i), "x");
    {
        // The pause comes while the tenth file is read.
        std::atomic<int> readWhilePaused{0};
        faults.on(FaultySystem::Read, "src/d", [&](int) {
            if (set.filesCopied == 9)
                set.pauseRequested = true;
            else if (set.pauseRequested)
                ++readWhilePaused;
            return 0;
        });
        std::atomic<bool> held{false};
        std::atomic<int> heldAt{-1}, readsWhileHeld{-1};
        std::thread ui([&] {
            held = eventually([&] { return set.filesCopied >= 10; });
            heldAt = set.filesCopied.load();
            readsWhileHeld = readWhilePaused.load();
            set.pauseRequested = false;
        });
        run();
        ui.join();
        ASSERT_TRUE(held);
        EXPECT_EQ(heldAt, 10) << "the file being copied when the pause came is finished";
        EXPECT_EQ(readsWhileHeld, 0) << "no further file is read while paused";
        EXPECT_EQ(set.status, Complete);
        EXPECT_EQ(set.filesCopied, Files);
        EXPECT_EQ(countFiles(target), Files);
    }

    // A stop into a fresh target copies nothing after the file it came in.
    intoFreshTarget("second");
    faults.on(FaultySystem::Read, "src/d", [&](int) {
        if (set.filesCopied == 19)
            set.stopRequested = true;
        return 0;
    });
    run();
    EXPECT_EQ(set.status, Cancelled);
    EXPECT_EQ(set.filesCopied + static_cast<int>(set.failedFiles.size()), 20);
    EXPECT_EQ(countFiles(target), 20);
    EXPECT_THAT(log(), Contains("backup set Docs ended - Cancelled"));
}

// The sample tree, whose folders fail to be listed or created on either side.
class FolderFaultTest : public HostileTreeTest {
protected:
    void SetUp() override {
        HostileTreeTest::SetUp();
        writeTree();
    }
    // The run failed on `folder` alone; everything outside "sub" is copied.
    void expectFailedAlone(const std::string& folder) {
        EXPECT_EQ(set.status, Failed);
        EXPECT_THAT(strings(set.failedFolders), ElementsAre(folder));
        EXPECT_TRUE(set.failedFiles.isEmpty());
        EXPECT_EQ(readFile(target + "/a.txt"), "alpha");
        EXPECT_EQ(readFile(target + "/cache/e.txt"), "cached");
        EXPECT_EQ(set.filesCopied, 3);
    }
};

TEST_F(FolderFaultTest, FullDiskWhileCreatingAFolderIsWaitedOutUntilThereIsRoomOrAStop) {
    // The target of "deeper" meets a full disk twice; the third try finds room.
    std::vector<bool> waitingAtRetry;
    faults.on(FaultySystem::Mkdir, "dst/sub/deeper", [&](int call) {
        if (call > 0)
            waitingAtRetry.push_back(set.waitingForDiskSpace);
        return call < 2 ? ENOSPC : 0;
    });
    run();
    EXPECT_THAT(waitingAtRetry, ElementsAre(true, true)) << "the wait shows while it lasts";
    EXPECT_FALSE(set.waitingForDiskSpace) << "and clears once the folder is made";
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + "/sub/deeper/d.txt"), "delta");
    EXPECT_EQ(set.filesCopied, 5);

    intoFreshTarget("stopped");
    int tries = 0;
    faults.on(FaultySystem::Mkdir, "stopped/sub", [&](int call) {
        tries = call + 1;
        if (call == 1)
            set.stopRequested = true;
        return call < 5 ? ENOSPC : 0;  // room at last, should the stop go unseen
    });
    run();
    EXPECT_EQ(tries, 2) << "no further try after the stop";
    EXPECT_EQ(set.status, Cancelled);
    EXPECT_FALSE(exists(target + "/sub"));
}

TEST_F(FolderFaultTest, SourceFolderWhoseListingFailsAtOnceOrPartWayFailsAlone) {
    faults.fail(FaultySystem::Listing, "src/sub", EACCES);
    run();
    expectFailedAlone(source + "/sub");
    EXPECT_TRUE(exists(target + "/sub")) << "its target folder is made all the same";
    EXPECT_FALSE(exists(target + "/sub/c.txt"));
    EXPECT_THAT(log(), Contains(" failed to open folder " + source + "/sub "));

    // The first batch of "sub"'s entries is read, then the next read fails:
    // the listing is not taken for complete.
    intoFreshTarget("cut");
    faults.on(FaultySystem::Listing, "", nullptr);
    faults.on(FaultySystem::ListingRead, "src/sub", [](int call) { return call == 1 ? EIO : 0; });
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(source + "/sub"));
}

TEST_F(FolderFaultTest, TargetFolderThatCannotBeCreatedSkipsItsTreeOnly) {
    faults.fail(FaultySystem::Mkdir, "dst/sub", ENAMETOOLONG);
    run();
    expectFailedAlone(target + "/sub");
    EXPECT_EQ(set.foldersScanned, 3) << "src, sub and cache; never deeper";
    // ENAMETOOLONG is result 206.
    EXPECT_THAT(log(), Contains(" failed to create folder " + target + "/sub - res = 206 (0xce)"));
    EXPECT_THAT(log(), Not(Contains(HasSubstr("deeper"))));
}

TEST_F(FolderFaultTest, UnlistableTargetFolderIsRecordedAndItsFilesCopiedAgain) {
    run();
    ASSERT_EQ(set.status, Complete);
    faults.fail(FaultySystem::Listing, "dst/sub", EACCES);
    run();
    // "deeper"'s own listing fails too, so both files below "sub" are copied again.
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(target + "/sub", target + "/sub/deeper"));
    EXPECT_EQ(set.filesCopied, 2);
    EXPECT_EQ(set.filesUnchanged, 3);
}

}  // namespace
