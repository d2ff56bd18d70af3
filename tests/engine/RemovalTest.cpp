// Removal of a folder tree when the tree changes under the walk: a folder
// swapped for a link at the moment it is opened, a folder on another file
// system, a file that cannot be deleted. Nothing outside the folder being
// removed may go. Pruning, which removes old backups the same way, is tried
// with the run sequence.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "foundation/TBResult.h"
#include "support/FaultySystem.h"
#include "tests/engine/RunFixture.h"

using terbin::TB_DIR_NOT_EMPTY;

namespace {

// Removes the fixture's sample tree, written by each test.
class RemovalTest : public RunFixture {
protected:
    uint32_t removeTree() {
        BackupJob job(&set);
        return job.removeFolder(terbin::TBString::fromBytes(source), true);
    }

    FaultySystem faults;
};

TEST_F(RemovalTest, FolderSwappedForALinkWhenOpenedOrOnAnotherFileSystemIsNotEntered) {
    writeTree();
    writeFile(outside + "/keep.txt", "mine");
    writeFile(outside + "/inner/also.txt", "mine too");
    swapForLinkWhenOpened(faults, "src/sub", source + "/sub");
    faults.alterExamined("src/cache", [](struct statx& info) { info.stx_dev_minor += 1; });
    EXPECT_EQ(removeTree(), TB_DIR_NOT_EMPTY) << "what stays keeps the folder holding it";
    EXPECT_EQ(readFile(outside + "/keep.txt"), "mine");
    EXPECT_EQ(readFile(outside + "/inner/also.txt"), "mine too");
    EXPECT_TRUE(S_ISLNK(statOf(source + "/sub").st_mode))
        << "neither followed nor taken for the folder";
    EXPECT_EQ(readFile(dir / "aside/deeper/d.txt"), "delta") << "moved out of the tree: not ours";
    EXPECT_EQ(readFile(source + "/cache/e.txt"), "cached") << "on another file system";
    EXPECT_FALSE(exists(source + "/a.txt"));
}

TEST_F(RemovalTest, FileThatCannotBeDeletedKeepsItsFoldersAndTheRestGoes) {
    writeTree();
    writeFile(source + "/sub/deeper/other.txt", "other");
    BackupSetState seen;
    faults.on(FaultySystem::Remove, "d.txt", [&](int) {
        set.getState(seen);
        return EACCES;
    });
    EXPECT_EQ(removeTree(), TB_DIR_NOT_EMPTY);
    EXPECT_EQ(seen.activity, RemovingFile);
    EXPECT_EQ(seen.sourcePath.narrow(), source + "/sub/deeper") << "the folder being emptied";
    EXPECT_EQ(readFile(source + "/sub/deeper/d.txt"), "delta");
    for (const char* gone : {"a.txt", "b.tmp", "sub/c.txt", "sub/deeper/other.txt", "cache"})
        EXPECT_FALSE(exists(source + "/" + gone)) << gone;

    // Without the fault the rest goes, and the folder with it.
    faults.on(FaultySystem::Remove, "", nullptr);
    EXPECT_EQ(removeTree(), 0u);
    EXPECT_FALSE(exists(source));
}

}  // namespace
