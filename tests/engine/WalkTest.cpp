// The walk of whole runs: folders swapped for links as they are opened,
// entries that cannot be examined, mount points, folder links and loops,
// kernel file systems, a target that is the source, and the order in which a
// large tree is copied.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <utility>

#include <gmock/gmock.h>

#include "support/FaultySystem.h"
#include "support/Seed.h"
#include "tests/engine/RunFixture.h"

using terbin::TBString;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

namespace {

class WalkTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        plainLayout();
        writeFile(outside + "/secret.txt", "secret");
    }
};

TEST_F(WalkTest, SourceFolderSwappedForALinkAsItIsOpenedIsNotFollowed) {
    writeTree();
    FaultySystem faults;
    swapForLinkWhenOpened(faults, "src/sub", source + "/sub");
    run();
    ASSERT_TRUE(fs::is_symlink(source + "/sub")) << "the swap took place";
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(source + "/sub"));
    EXPECT_FALSE(exists(target + "/sub/secret.txt"));
    EXPECT_EQ(readFile(target + "/cache/e.txt"), "cached");
    EXPECT_EQ(set.filesCopied, 3);
}

TEST_F(WalkTest, TargetFolderSwappedForALinkAsItIsOpenedIsNotWrittenThrough) {
    writeTree();
    run();
    ASSERT_EQ(set.status, Complete);
    writeFile(source + "/sub/c.txt", "changed: copied again if the walk went in");
    FaultySystem faults;
    swapForLinkWhenOpened(faults, "dst/sub", target + "/sub");
    run();
    ASSERT_TRUE(fs::is_symlink(target + "/sub")) << "the swap took place";
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(target + "/sub"));
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 1) << "nothing written there";
    EXPECT_EQ(readFile(outside + "/secret.txt"), "secret");
    EXPECT_EQ(readFile(dir / "aside/c.txt"), "charlie!") << "the old copy is left as it was";
}

TEST_F(WalkTest, EntriesThatCannotBeExaminedFailWhileVanishedOnesAreLeftOut) {
    writeTree();
    FaultySystem faults;
    faults.fail(FaultySystem::Examine, "src/sub/c.txt", EACCES);
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(source + "/sub/c.txt"));
    EXPECT_TRUE(set.failedFolders.isEmpty());
    EXPECT_THAT(log(), Contains(HasSubstr("Can't open " + source + "/sub/c.txt for reading")));
    EXPECT_EQ(readFile(target + "/sub/deeper/d.txt"), "delta");

    // A folder's first examination is its parent's listing of it.
    intoFreshTarget("folder");
    faults.on(FaultySystem::Examine, "src/sub", [](int call) { return call == 0 ? EIO : 0; });
    run();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(source + "/sub"));
    EXPECT_TRUE(set.failedFiles.isEmpty());
    EXPECT_FALSE(exists(target + "/sub"));
    EXPECT_EQ(set.filesCopied, 3);

    intoFreshTarget("vanished");
    faults.fail(FaultySystem::Examine, "src/sub/c.txt", ENOENT);
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(set.filesCopied, 4);
    EXPECT_EQ(set.filesSkipped, 0);
    EXPECT_FALSE(exists(target + "/sub/c.txt"));
    EXPECT_EQ(readFile(target + "/sub/deeper/d.txt"), "delta");
}

TEST_F(WalkTest, MountsAndFolderLinksAreEnteredOnlyWhenFollowedAndNeverALoopOrTheKernel) {
    writeFile(source + "/a/file.txt", "x");
    writeFile(source + "/mnt/m.txt", "mounted");
    writeFile(source + "/mnt/inner/n.txt", "nested");
    ASSERT_EQ(symlink("..", (source + "/a/up").c_str()), 0);
    ASSERT_EQ(symlink((source + "/a").c_str(), (source + "/again").c_str()), 0);
    for (const char* kernel : {"/proc", "/sys"})
        ASSERT_EQ(symlink(kernel, (source + kernel).c_str()), 0) << kernel;
    // Everything at and below "mnt" seems to lie on a device of its own.
    FaultySystem faults;
    faults.alterExamined("src/mnt", [](struct statx& info) {
        info.stx_dev_major = 0xabc;
        info.stx_dev_minor = 0x1234;
    });
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(set.foldersSkipped, 5) << "mnt, again, a/up and the two kernel links";
    for (const char* skipped : {"/mnt", "/again"}) {
        EXPECT_THAT(log(), Contains(" skipped folder symlink " + source + skipped + " "));
        EXPECT_FALSE(exists(target + skipped)) << skipped;
    }
    EXPECT_EQ(set.filesCopied, 1);

    set.backupFollowSymLinks = 1;
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + "/mnt/m.txt"), "mounted");
    EXPECT_EQ(readFile(target + "/mnt/inner/n.txt"), "nested");
    EXPECT_EQ(readFile(target + "/again/file.txt"), "x") << "a link elsewhere is followed";
    for (const char* up : {"/a/up", "/again/up"})
        EXPECT_FALSE(exists(target + up)) << up << ": never back into its own ancestors";
    EXPECT_EQ(set.foldersSkipped, 4) << "the two links up and the kernel's own file systems";
    for (const char* kernel : {"/proc", "/sys"}) {
        EXPECT_THAT(log(), Contains(" skipped folder symlink " + source + kernel + " "));
        EXPECT_FALSE(exists(target + kernel)) << kernel;
    }
}

TEST_F(WalkTest, TargetThatIsTheSourceItselfIsRefusedAndNothingInItTouched) {
    writeTree();
    const auto snapshot = [&] {
        std::map<std::string, std::pair<ino_t, std::string>> files;
        for (const auto& entry : fs::recursive_directory_iterator(source)) {
            if (entry.is_regular_file() && entry.path() != set.logFilePath.narrow())
                files[entry.path()] = {statOf(entry.path()).st_ino, readFile(entry.path())};
        }
        return files;
    };
    set.targetFolder = TBString::fromBytes(source);
    const auto before = snapshot();
    run();
    const auto after = snapshot();
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(source));
    EXPECT_THAT(log(), Contains(" failed to create folder " + source + " - res = 87 (0x57)"));
    EXPECT_EQ(after, before) << "no file written, replaced or truncated";
    EXPECT_EQ(before.size(), 5u);
}

// Records, in order, the source files that are opened for reading.
class OpenedFiles : public FaultySystem {
public:
    explicit OpenedFiles(std::string below) : below_(std::move(below) + "/") {}
    int openat(int dirfd, const char* name, int flags, mode_t mode) override {
        const int fd = FaultySystem::openat(dirfd, name, flags, mode);
        if (fd >= 0 && (flags & (O_ACCMODE | O_CREAT | O_DIRECTORY)) == O_RDONLY) {
            const std::string path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd));
            const std::lock_guard<std::mutex> guard(mutex_);
            if (path.rfind(below_, 0) == 0)
                opened_.push_back(path);
        }
        return fd;
    }
    std::vector<std::string> take() {
        const std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(opened_, {});
    }

private:
    const std::string below_;
    std::mutex mutex_;
    std::vector<std::string> opened_;
};

// The walk a run must make: a folder, its files, then each subfolder, all in
// listing order; "skipme" folders, *.tmp files and links to folders left out.
struct Walk {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    int foldersSkipped = 0;
    int filesSkipped = 0;
    int deepest = 0;

    void from(const std::string& folder, int depth = 0) {
        folders.push_back(folder);
        deepest = std::max(deepest, depth);
        std::vector<std::string> subfolders;
        DIR* listing = opendir(folder.c_str());
        ASSERT_NE(listing, nullptr) << folder;
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name, path = folder + "/" + name;
            struct stat st {};
            if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0)
                continue;
            const bool excluded = name == "skipme" || name.ends_with(".tmp");
            if (S_ISLNK(st.st_mode) || (S_ISDIR(st.st_mode) && excluded)) {
                ++foldersSkipped;
            } else if (S_ISDIR(st.st_mode)) {
                subfolders.push_back(path);
            } else if (excluded) {
                ++filesSkipped;
            } else {
                files.push_back(path);
            }
        }
        closedir(listing);
        for (const std::string& subfolder : subfolders) from(subfolder, depth + 1);
    }
};

TEST_F(WalkTest, LargeTreeIsCopiedDepthFirstInListingOrderAndThenFoundUnchanged) {
    // Folders are grown breadth first until there are 400, several times what
    // the listers hold ahead of the copy, so they wait for room. The last
    // subfolder of one folder in nine is an excluded "skipme" with a subtree
    // of its own; one folder in seven holds a link to its parent.
    std::mt19937 random(testSeed(20261206));
    std::vector<std::string> folders = {source};
    for (size_t next = 0; next < folders.size(); ++next) {
        const std::string folder = folders[next];
        for (unsigned f = random() % 4; f-- > 0;)
            writeFile(folder + "/f" + std::to_string(f) + (random() % 5 ? ".txt" : ".tmp"), folder);
        for (unsigned d = 1 + random() % 4; d-- > 0 && folders.size() < 400;) {
            const std::string name =
                d == 0 && random() % 9 == 0 ? "skipme" : "d" + std::to_string(d);
            makeDirs(folder + "/" + name);
            folders.push_back(folder + "/" + name);
        }
        if (random() % 7 == 0) {
            ASSERT_EQ(symlink("..", (folder + "/up").c_str()), 0);
        }
    }
    set.excludeFolders.add(L"skipme");
    set.excludeFiles.add(L"*.tmp");
    Walk walk;
    walk.from(source);
    ASSERT_GE(walk.folders.size(), 250u);
    ASSERT_GE(walk.deepest, 4);
    ASSERT_GE(walk.files.size(), 250u);
    ASSERT_GT(walk.filesSkipped, 0);
    ASSERT_GT(walk.foldersSkipped, 10);

    OpenedFiles opened(source);
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_THAT(logLines(" copy folder "), ElementsAreArray(walk.folders));
    EXPECT_EQ(set.foldersScanned, static_cast<int>(walk.folders.size()));
    EXPECT_THAT(opened.take(), ElementsAreArray(walk.files));
    EXPECT_EQ(set.filesCopied, static_cast<int>(walk.files.size()));
    EXPECT_EQ(set.foldersSkipped, walk.foldersSkipped);
    EXPECT_EQ(set.filesSkipped, walk.filesSkipped);

    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(set.filesCopied, 0);
    EXPECT_EQ(set.filesUnchanged, static_cast<int>(walk.files.size()));
    EXPECT_THAT(opened.take(), IsEmpty()) << "no source file is read again";
}

}  // namespace
