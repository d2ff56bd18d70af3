// Where a run puts things in its target and what pruning takes away from it:
// full paths of relative sources, links inside old backups, and folders with
// more subfolders than the target lister holds ahead.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gmock/gmock.h>

#include "tests/engine/RunFixture.h"

using ::testing::Contains;

namespace {

// Makes `folder` the current folder for the rest of the scope.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::filesystem::path previous_;
};

using TargetTreeTest = RunFixture;

TEST_F(TargetTreeTest, RelativeSourceWithFullPathLandsUnderItsAbsolutePath) {
    plainLayout();
    set.backupFullPath = 1;
    writeFile(dir / "work/src/a.txt", "alpha");
    writeFile(dir / "work/projects/web/index.html", "<p>");
    set.sourceFolders.clear();
    set.sourceFolders.add(L"src");
    set.sourceFolders.add(L"./projects/web");
    const CurrentFolder inWork(dir / "work");
    const std::string here = std::filesystem::current_path().string();  // begins with "/"
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + here + "/src/a.txt"), "alpha");
    EXPECT_EQ(readFile(target + here + "/projects/web/index.html"), "<p>");
    EXPECT_FALSE(exists(target + "/src")) << "not below the target as written";
    EXPECT_FALSE(exists(target + "/projects"));
    EXPECT_THAT(log(), Contains("  source folder = src")) << "logged as stored";
}

TEST_F(TargetTreeTest, PruningRemovesALinkInsideAnOldBackupNotWhatItPointsTo) {
    set.backupFullPath = 0;
    set.backupFolderCount = 1;
    writeFile(source + "/a.txt", "alpha");
    writeFile(dir / "outside/keep.txt", "mine");
    theBaseApp.backupDate = L"20250101";
    run();
    const std::string old = target + "/pc/20250101";
    ASSERT_EQ(readFile(old + "/a.txt"), "alpha");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (old + "/outside").c_str()), 0);
    makeDirs(old + "/nested");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (old + "/nested/again").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside/keep.txt").c_str(), (old + "/file-link").c_str()), 0);

    theBaseApp.backupDate = L"20261206";
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_FALSE(exists(old)) << "the old backup went whole, links and all";
    EXPECT_THAT(log(), Contains(" removing old backup subfolder " + old));
    EXPECT_EQ(readFile(dir / "outside/keep.txt"), "mine");
    EXPECT_EQ(readFile(target + "/pc/20261206/a.txt"), "alpha");
}

TEST_F(TargetTreeTest, MoreSubfoldersThanTheListerHoldsAheadAreCopiedAndThenUnchanged) {
    // The target lister keeps at most 32 listings that nobody has taken yet;
    // three times that and one more makes it wait for room several times
    // over, at two levels.
    plainLayout();
    const int folders = 32 * 3 + 1;
    for (int i = 0; i < folders; ++i) {
        const std::string name = "d" + std::to_string(i);
        writeFile(source + "/" + name + "/own.txt", name);
        writeFile(source + "/" + name + "/inner/deep.txt", name + "!");
    }
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(set.filesCopied, 2 * folders);
    EXPECT_EQ(set.foldersScanned, 1 + 2 * folders);
    for (int i = 0; i < folders; ++i) {
        const std::string name = "d" + std::to_string(i);
        EXPECT_EQ(readFile(target + "/" + name + "/own.txt"), name);
        EXPECT_EQ(readFile(target + "/" + name + "/inner/deep.txt"), name + "!");
    }

    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(set.filesCopied, 0);
    EXPECT_EQ(set.filesUnchanged, 2 * folders);
}

}  // namespace
