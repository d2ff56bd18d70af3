// The walk of whole runs: folders swapped for links as they are opened,
// entries that cannot be examined, mount points and kernel file systems,
// backups met inside a source, and the order in which a large tree is copied.
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

#include "foundation/TBLockableObject.h"
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
    // The rest of the test copies into a new target folder `name`.
    void intoFreshTarget(const std::string& name) {
        target = dir / name;
        set.targetFolder = TBString::fromBytes(target);
    }
    // Moves the folder at `path` aside and puts a link to `outside` there.
    void swapForLink(const std::string& path) {
        std::error_code ignored;
        fs::rename(path, dir / "aside", ignored);
        fs::create_directory_symlink(outside, path, ignored);
    }
    std::vector<std::string> copyFolderLines() {
        std::vector<std::string> lines;
        for (const std::string& line : log()) {
            if (line.rfind(" copy folder ", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    const std::string outside = dir / "outside";
};

TEST_F(WalkTest, SourceFolderSwappedForALinkAsItIsOpenedIsNotFollowed) {
    writeTree();
    FaultySystem faults;
    faults.on(FaultySystem::Open, "src/sub", [&](int call) {
        if (call == 0)
            swapForLink(source + "/sub");
        return 0;
    });
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
    faults.on(FaultySystem::Open, "dst/sub", [&](int call) {
        if (call == 0)
            swapForLink(target + "/sub");
        return 0;
    });
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
    {
        FaultySystem faults;
        faults.fail(FaultySystem::Examine, "src/sub/c.txt", EACCES);
        run();
        EXPECT_EQ(set.status, Failed);
        EXPECT_THAT(strings(set.failedFiles), ElementsAre(source + "/sub/c.txt"));
        EXPECT_TRUE(set.failedFolders.isEmpty());
        EXPECT_THAT(log(), Contains(HasSubstr("Can't open " + source + "/sub/c.txt for reading")));
        EXPECT_EQ(readFile(target + "/sub/deeper/d.txt"), "delta");
    }
    {
        // A folder's first examination is its parent's listing of it.
        intoFreshTarget("folder");
        FaultySystem faults;
        faults.on(FaultySystem::Examine, "src/sub", [](int call) { return call == 0 ? EIO : 0; });
        run();
        EXPECT_EQ(set.status, Failed);
        EXPECT_THAT(strings(set.failedFolders), ElementsAre(source + "/sub"));
        EXPECT_TRUE(set.failedFiles.isEmpty());
        EXPECT_FALSE(exists(target + "/sub"));
        EXPECT_EQ(set.filesCopied, 3);
    }
    {
        // The first batch of "sub"'s entries is read, then the next read fails.
        intoFreshTarget("cut");
        FaultySystem faults;
        faults.on(FaultySystem::ListingRead, "src/sub",
                  [](int call) { return call == 1 ? EIO : 0; });
        run();
        EXPECT_EQ(set.status, Failed);
        EXPECT_THAT(strings(set.failedFolders), ElementsAre(source + "/sub"));
        EXPECT_THAT(log(), Contains(" failed to open folder " + source + "/sub "));
        EXPECT_EQ(readFile(target + "/a.txt"), "alpha");
    }
    {
        intoFreshTarget("vanished");
        FaultySystem faults;
        faults.fail(FaultySystem::Examine, "src/sub/c.txt", ENOENT);
        run();
        EXPECT_EQ(set.status, Complete);
        EXPECT_EQ(set.filesCopied, 4);
        EXPECT_EQ(set.filesSkipped, 0);
        EXPECT_FALSE(exists(target + "/sub/c.txt"));
        EXPECT_EQ(readFile(target + "/sub/deeper/d.txt"), "delta");
    }
}

TEST_F(WalkTest, MountPointIsEnteredOnlyWhenLinksAreFollowedAndKernelFileSystemsNever) {
    writeFile(source + "/a.txt", "alpha");
    writeFile(source + "/mnt/m.txt", "mounted");
    writeFile(source + "/mnt/inner/n.txt", "nested");
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
    EXPECT_EQ(set.foldersSkipped, 3);
    EXPECT_THAT(log(), Contains(" skipped folder symlink " + source + "/mnt "));
    EXPECT_FALSE(exists(target + "/mnt"));
    EXPECT_EQ(set.filesCopied, 1);

    set.backupFollowSymLinks = 1;
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_EQ(readFile(target + "/mnt/m.txt"), "mounted");
    EXPECT_EQ(readFile(target + "/mnt/inner/n.txt"), "nested");
    EXPECT_EQ(set.foldersSkipped, 2) << "the kernel's own file systems, even so";
    for (const char* kernel : {"/proc", "/sys"}) {
        EXPECT_THAT(log(), Contains(" skipped folder symlink " + source + kernel + " "));
        EXPECT_FALSE(exists(target + kernel)) << kernel;
    }
}

TEST_F(WalkTest, AnotherSetsBackupInsideTheSourceIsSkippedButItsNeighboursCopied) {
    writeFile(source + "/a.txt", "alpha");
    writeFile(source + "/backups/notes.txt", "mine");
    writeFile(source + "/backups/other/old.txt", "a backup");
    BackupSet other;
    other.backupName = L"Other";
    other.targetFolder = TBString::fromBytes(source + "/backups/other");
    other.backupAddComputerFolder = 0;
    // In the catalogue for the run only, whatever the test's outcome.
    struct InCatalogue {
        explicit InCatalogue(BackupSet* entry) : added(entry) {
            const terbin::TBWriteLock hold(theBaseApp.backupSets);
            theBaseApp.backupSets.add(added);
        }
        ~InCatalogue() {
            const terbin::TBWriteLock hold(theBaseApp.backupSets);
            if (const int at = theBaseApp.backupSets.indexOf(added); at >= 0)
                theBaseApp.backupSets.removeAt(at);
        }
        BackupSet* added;
    } listed(&other);
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_THAT(log(), Contains(" skipped folder " + source + "/backups/other"));
    EXPECT_EQ(set.foldersSkipped, 1);
    EXPECT_EQ(readFile(target + "/backups/notes.txt"), "mine");
    EXPECT_FALSE(exists(target + "/backups/other"));
}

TEST_F(WalkTest, TargetThatIsTheSourceItselfIsRefusedAndNothingInItTouched) {
    writeTree();
    // Written to by its owner before and after the run, through one handle.
    const std::string growing = source + "/sub/growing.log";
    const int appender = ::open(growing.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(appender, 0);
    ASSERT_EQ(::write(appender, "before;", 7), 7);
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
    ASSERT_EQ(::write(appender, "after", 5), 5);
    ::close(appender);
    EXPECT_EQ(set.status, Failed);
    EXPECT_THAT(strings(set.failedFolders), ElementsAre(source));
    EXPECT_THAT(log(), Contains(" failed to create folder " + source + " - res = 87 (0x57)"));
    EXPECT_EQ(after, before) << "no file written, replaced or truncated";
    EXPECT_EQ(before.size(), 6u);
    EXPECT_EQ(readFile(growing), "before;after");
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
    std::vector<std::string> copyLines;
    std::vector<std::string> files;
    int foldersSkipped = 0;
    int filesSkipped = 0;
    int deepest = 0;

    void from(const std::string& folder, int depth = 0) {
        copyLines.push_back(" copy folder " + folder);
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
    // Folders are grown breadth first until there are 400. The last subfolder
    // of one folder in nine is an excluded "skipme" with a subtree of its
    // own; one folder in seven holds a link to its parent.
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
    ASSERT_GE(walk.copyLines.size(), 250u);
    ASSERT_GE(walk.deepest, 4);
    ASSERT_GE(walk.files.size(), 250u);
    ASSERT_GT(walk.filesSkipped, 0);
    ASSERT_GT(walk.foldersSkipped, 10);

    OpenedFiles opened(source);
    run();
    EXPECT_EQ(set.status, Complete);
    EXPECT_THAT(copyFolderLines(), ElementsAreArray(walk.copyLines));
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
