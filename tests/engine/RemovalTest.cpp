// Removal of a folder tree and pruning of old backups when the tree changes
// under the walk: a folder swapped for a link at the moment it is opened, a
// folder on another file system, a file that cannot be deleted. Nothing
// outside the folder being removed may go.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <gmock/gmock.h>

#include "foundation/TBResult.h"
#include "support/FaultySystem.h"
#include "tests/engine/RunFixture.h"

using terbin::TB_DIR_NOT_EMPTY;
using ::testing::Contains;

namespace {

class RemovalTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        doomed = dir / "doomed";
        outside = dir / "outside";
        writeFile(outside + "/keep.txt", "mine");
        writeFile(outside + "/inner/also.txt", "mine too");
    }
    // From the first open of a path holding `part` on, `folder` is somewhere
    // else and a link to the outside folder stands in its place.
    void swapForLinkWhenOpened(const std::string& part, const std::string& folder) {
        faults.on(FaultySystem::Open, part, [this, folder](int call) {
            if (call == 0) {
                EXPECT_EQ(std::rename(folder.c_str(), (dir / "aside").c_str()), 0);
                EXPECT_EQ(symlink(outside.c_str(), folder.c_str()), 0);
            }
            return FaultySystem::Outcome();
        });
    }
    void expectOutsideIntact() {
        EXPECT_EQ(readFile(outside + "/keep.txt"), "mine");
        EXPECT_EQ(readFile(outside + "/inner/also.txt"), "mine too");
    }
    static bool isLink(const std::string& path) { return S_ISLNK(statOf(path).st_mode); }

    std::string doomed;
    std::string outside;
    FaultySystem faults;
};

TEST_F(RemovalTest, FolderSwappedForALinkWhenOpenedIsNotFollowed) {
    writeFile(doomed + "/a.txt", "a");
    writeFile(doomed + "/sub/b.txt", "b");
    writeFile(doomed + "/sub/deeper/c.txt", "c");
    swapForLinkWhenOpened("doomed/sub", doomed + "/sub");
    BackupJob job(&set);
    EXPECT_EQ(job.removeFolder(terbin::TBString::fromBytes(doomed), true), TB_DIR_NOT_EMPTY)
        << "the link stays, so the folder holding it does";
    expectOutsideIntact();
    EXPECT_TRUE(isLink(doomed + "/sub"));
    EXPECT_FALSE(exists(doomed + "/a.txt"));
    EXPECT_EQ(readFile(dir / "aside/deeper/c.txt"), "c") << "moved out of the tree: not ours";
}

TEST_F(RemovalTest, FolderOnAnotherFileSystemIsNotEntered) {
    writeFile(doomed + "/a.txt", "a");
    writeFile(doomed + "/mounted/data.txt", "data");
    faults.alterExamined("doomed/mounted", [](struct statx& info) { info.stx_dev_minor += 1; });
    BackupJob job(&set);
    EXPECT_EQ(job.removeFolder(terbin::TBString::fromBytes(doomed), true), TB_DIR_NOT_EMPTY);
    EXPECT_EQ(readFile(doomed + "/mounted/data.txt"), "data");
    EXPECT_FALSE(exists(doomed + "/a.txt"));
}

TEST_F(RemovalTest, FileThatCannotBeDeletedKeepsItsFoldersAndTheRestGoes) {
    writeFile(doomed + "/a.txt", "a");
    writeFile(doomed + "/sub/x.txt", "x");
    writeFile(doomed + "/sub/held/locked.txt", "locked");
    writeFile(doomed + "/sub/held/other.txt", "other");
    writeFile(doomed + "/z/z.txt", "z");
    BackupJob job(&set);
    BackupSetState seen;
    faults.on(FaultySystem::Remove, "locked.txt", [&](int) {
        set.getState(seen);
        return EACCES;
    });
    EXPECT_EQ(job.removeFolder(terbin::TBString::fromBytes(doomed), true), TB_DIR_NOT_EMPTY);
    EXPECT_EQ(seen.activity, RemovingFile);
    EXPECT_EQ(seen.sourcePath.narrow(), doomed + "/sub/held") << "the folder being emptied";
    EXPECT_EQ(readFile(doomed + "/sub/held/locked.txt"), "locked");
    for (const char* gone : {"a.txt", "sub/x.txt", "sub/held/other.txt", "z"})
        EXPECT_FALSE(exists(doomed + "/" + gone)) << gone;

    // Without the fault the rest goes, and the folder with it.
    faults.on(FaultySystem::Remove, "", nullptr);
    EXPECT_EQ(job.removeFolder(terbin::TBString::fromBytes(doomed), true), 0u);
    EXPECT_FALSE(exists(doomed));
}

TEST_F(RemovalTest, PruningNeverFollowsADatedFolderSwappedForALink) {
    set.backupFullPath = 0;
    set.backupType = DateTimeSubfolder;
    set.backupFolderCount = 1;
    const std::string top = target + "/pc";
    const std::string old = top + "/20250101-000000";
    writeFile(old + "/old.txt", "old");
    writeFile(top + "/backup-Docs-20250101-000000.log", "old log");
    swapForLinkWhenOpened("/20250101-000000", old);
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_THAT(log(), Contains(" removing old backup subfolder " + old));
    expectOutsideIntact();
    EXPECT_TRUE(isLink(old)) << "the link is left where the folder was";
    EXPECT_EQ(readFile(dir / "aside/old.txt"), "old");
    EXPECT_FALSE(exists(top + "/backup-Docs-20250101-000000.log"));
}

}  // namespace
