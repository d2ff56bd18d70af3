#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <gmock/gmock.h>

#include "support/FaultySystem.h"
#include "tests/engine/RunFixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;

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
};

TEST_F(HostileTreeTest, SpecialEntriesAreIgnoredAndNeverOpened) {
    writeFile(source + "/real.txt", "real");
    ASSERT_EQ(mkfifo((source + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("missing", (source + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("real.txt", (source + "/alias.txt").c_str()), 0);
    ASSERT_EQ(mknod((source + "/sock").c_str(), S_IFSOCK | 0600, 0), 0);
    run();  // a FIFO that were opened would block here for ever
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + "/alias.txt"), "real") << "a file link is copied as a file";
    EXPECT_FALSE(exists(target + "/fifo"));
    EXPECT_FALSE(exists(target + "/dangling"));
    EXPECT_FALSE(exists(target + "/sock"));
    EXPECT_EQ(set.filesCopied, 2);
}

TEST_F(HostileTreeTest, FolderLinkToAncestorEndsWhenFollowed) {
    writeFile(source + "/a/file.txt", "x");
    ASSERT_EQ(symlink("..", (source + "/a/up").c_str()), 0);
    ASSERT_EQ(symlink((source + "/a").c_str(), (source + "/again").c_str()), 0);
    set.backupFollowSymLinks = 0;
    run();
    EXPECT_EQ(set.foldersSkipped, 2);
    EXPECT_THAT(log(), Contains(" skipped folder symlink " + source + "/again "));
    EXPECT_FALSE(exists(target + "/again"));

    set.backupFollowSymLinks = 1;
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + "/again/file.txt"), "x") << "a link elsewhere is followed";
    EXPECT_FALSE(exists(target + "/a/up")) << "but never back into its own ancestors";
}

TEST_F(HostileTreeTest, OddNamesAreCopiedAsTheyAreAndAVanishingFileFailsAlone) {
    const std::string names[] = {std::string("bad-\xff\xfe-utf8"), "line\nbreak",
                                 std::string(255, 'n'), "back\\slash", "star*?[x]"};
    for (const auto& name : names) writeFile(source + "/" + name, name);
    writeFile(source + "/dir\nwith\xff/inner", "inner");
    writeFile(source + "/gone.txt", "soon gone");
    FaultySystem faults;
    faults.failOpen("src/gone.txt", ENOENT);
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(source + "/gone.txt"));
    EXPECT_TRUE(set.failedFolders.isEmpty());
    EXPECT_THAT(log(), Contains("    " + source + "/gone.txt"));
    for (const auto& name : names) EXPECT_EQ(readFile(target + "/" + name), name);
    EXPECT_EQ(readFile(target + "/dir\nwith\xff/inner"), "inner");
}

TEST_F(HostileTreeTest, PathBeyondTheSystemLimitFailsThatFolderOnly) {
    writeFile(source + "/top.txt", "top");
    // Build a chain of folders whose full path passes 4096 bytes, relative to
    // an open folder so no single call sees the whole path.
    int fd = open(source.c_str(), O_DIRECTORY);
    const std::string name(200, 'd');
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
        const int next = openat(fd, name.c_str(), O_DIRECTORY);
        close(fd);
        fd = next;
    }
    close(fd);
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_EQ(readFile(target + "/top.txt"), "top");
    EXPECT_FALSE(set.failedFolders.isEmpty());
    // Lift the chain out piece by piece so the temporary folder can go.
    std::string path = source;
    for (int i = 0; i < 15; ++i) path += "/" + name;
    ASSERT_EQ(rename(path.c_str(), (dir / "lifted").c_str()), 0);
}

TEST_F(HostileTreeTest, PausedRunHoldsAndCompletesWhileAStoppedOneEndsCancelled) {
    constexpr int Files = 30;
    for (int i = 0; i < Files; ++i)
        writeFile(source + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i), "x");
    {
        // The pause comes while the tenth file is read.
        FaultySystem faults;
        std::atomic<int> readWhilePaused{0};
        faults.onRead("src/d", [&](int) {
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
    const std::string second = dir / "second";
    set.targetFolder = terbin::TBString::fromBytes(second);
    FaultySystem faults;
    faults.onRead("src/d", [&](int) {
        if (set.filesCopied == 19)
            set.stopRequested = true;
        return 0;
    });
    run();
    EXPECT_EQ(set.status, Cancelled);
    EXPECT_EQ(set.filesCopied + static_cast<int>(set.failedFiles.size()), 20);
    EXPECT_EQ(countFiles(second), 20);
    EXPECT_THAT(log(), Contains("backup set Docs ended - Cancelled"));
}

}  // namespace
