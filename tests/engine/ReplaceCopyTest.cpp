// A copy replaces the older one only when complete, keeps a source's holes,
// notices a source that changes under it, and follows links only as listed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>

#include "support/FaultySystem.h"
#include "tests/engine/CopyFixture.h"

using terbin::TBString;
using ::testing::ElementsAre;

namespace {

constexpr int Chunk = BackupJob::CopyBufferSize;

// Puts `bytes` at `offset` of the file at `path`, `size` bytes long: holes elsewhere.
void writeAt(const std::string& path, off_t offset, const std::string& bytes, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_TRUE(fd >= 0 && ::ftruncate(fd, size) == 0 &&
                ::pwrite(fd, bytes.data(), bytes.size(), offset) == ssize_t(bytes.size()));
    ::close(fd);
}
int64_t allocatedBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_blocks * 512 : -1;
}

TEST_F(CopyFileTest, FailureOrStopInTheMiddleLeavesThePreviousCopyAndNoTemporaryFile) {
    const std::string from = source + "/f", to = target + "/f",
                      cancelled = "Copy to " + to + " cancelled";
    writeFile(to, "previous backup");
    writePatternFile(from, 4 * Chunk);
    const std::string data = readFile(from);
    // Each strikes at the third of four chunks; `stopAt` raises a stop at
    // call `when` and lets the call end with `error`.
    const auto stopAt = [&](int when, int call, int error) {
        if (call == when)
            set.stopRequested = true;
        return error;
    };
    const std::tuple<FaultySystem::Call, std::string, FaultySystem::Hook, uint32_t, std::string>
        faults[] = {
            {FaultySystem::Write, Temporary, [&](int call) { return stopAt(2, call, 0); }, 0,
             cancelled},
            {FaultySystem::Read, "src/f", [](int call) { return call == 2 ? EIO : 0; }, EIO,
             "Failed to read from " + from + " - errno=5"},
            {FaultySystem::Write, Temporary, [](int call) { return call >= 2 ? EIO : 0; }, EIO,
             "Failed to write to " + to + " - error=31"},
            // The second refusal comes after a wait for space, which the stop ends.
            {FaultySystem::Write, Temporary,
             [&](int call) { return stopAt(3, call, call >= 2 ? ENOSPC : 0); }, 0, cancelled}};
    std::vector<std::string> logged;
    for (const bool sparse : {false, true}) {
        if (sparse) {
            ASSERT_EQ(::unlink(from.c_str()), 0);
            writeAt(from, 1 << 20, data, 8 << 20);
            ASSERT_LT(allocatedBytes(from), 1 << 20) << "the file system keeps no holes";
        }
        for (const auto& [call, part, hook, result, message] : faults) {
            {
                FaultySystem system;
                system.on(call, part, hook);
                EXPECT_EQ(copy(from, to), result) << message;
            }
            logged.push_back(message);
            EXPECT_EQ(readFile(to), "previous backup") << message;
            EXPECT_THAT(temporariesIn(target), ElementsAre()) << message;
            set.stopRequested = false;
        }
    }
    EXPECT_EQ(messages(), logged);
    EXPECT_TRUE(set.waitingForDiskSpace) << "a stop while waiting for space leaves the wait shown";
    EXPECT_EQ(set.failedFiles.size(), 8);
    EXPECT_EQ(set.filesCopied, 0);
}

TEST_F(CopyFileTest, HolesStayHolesWhetherTheFileEndsInDataOrInAHole) {
    const off_t size = 16 << 20;
    for (const off_t last : {off_t(10 << 20), size - 100000}) {
        const std::string from = source + "/disk" + std::to_string(last);
        writeAt(from, 1 << 20, "first island", size);
        writeAt(from, last, std::string(100000, 'x'), size);
        ASSERT_LT(allocatedBytes(from), 1 << 20) << "the file system keeps no holes";
        for (const bool kernelCopies : {true, false}) {
            const std::string to =
                target + "/disk" + std::to_string(last) + "-" + std::to_string(kernelCopies);
            FaultySystem faults;
            if (!kernelCopies)
                faults.fail(FaultySystem::KernelCopy, "", EXDEV);
            EXPECT_EQ(copy(from, to), 0u);
            EXPECT_EQ(statOf(to).st_size, size);
            EXPECT_LT(allocatedBytes(to), 1 << 20) << to;
            EXPECT_TRUE(sameContents(from, to)) << to;
        }
    }
    EXPECT_EQ(set.filesCopied, 4);
}

TEST_F(CopyFileTest, SourceChangedWhileCopiedIsCopiedAgainAndFailsWhenItChangesEveryTime) {
    const std::string from = source + "/doc", to = target + "/doc";
    writePatternFile(from, 3 * Chunk);
    setMtime(from, 1600000000);
    {
        FaultySystem faults;
        // Once the first chunk is read, the file's start is rewritten: only
        // the modification time tells.
        faults.on(FaultySystem::Read, "src/doc", [&](int call) {
            if (call == 1)
                std::fstream(from, std::ios::in | std::ios::out | std::ios::binary) << "NEWER";
            return 0;
        });
        EXPECT_EQ(copy(from, to), 0u);
    }
    EXPECT_TRUE(sameContents(from, to));
    EXPECT_EQ(statOf(to).st_mtim.tv_nsec, statOf(from).st_mtim.tv_nsec);

    const std::string busy = source + "/busy";
    writePatternFile(busy, 2 * Chunk);
    writeFile(target + "/busy", "previous backup");
    {
        FaultySystem faults;
        // Every look at the file finds it longer.
        faults.on(FaultySystem::Examine, "src/busy", [&](int) {
            std::ofstream(busy, std::ios::app) << "+";
            return 0;
        });
        EXPECT_EQ(copy(busy, target + "/busy"), static_cast<uint32_t>(EBUSY));
    }
    EXPECT_EQ(readFile(target + "/busy"), "previous backup");
    EXPECT_THAT(messages(), ElementsAre("File " + busy + " changed while it was copied"));
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(busy));
    EXPECT_THAT(temporariesIn(target), ElementsAre());
    EXPECT_EQ(set.filesCopied, 1);
}

// Records the flushes and renames that reach the system, in order.
class RecordingSystem : public FaultySystem {
public:
    int fsync(int fd) override {
        calls.push_back("fsync");
        return FaultySystem::fsync(fd);
    }
    int renameat(int fromDir, const char* from, int toDir, const char* to) override {
        calls.push_back("rename");
        return FaultySystem::renameat(fromDir, from, toDir, to);
    }
    // A rename that refuses to replace anything.
    int renameat2(int fromDir, const char* from, int toDir, const char* to,
                  unsigned flags) override {
        calls.push_back(flags == RENAME_NOREPLACE ? "place" : "rename2");
        return FaultySystem::renameat2(fromDir, from, toDir, to, flags);
    }
    std::vector<std::string> calls;
};

TEST_F(CopyFileTest, OlderCopyIsReplacedFlushedFirstWhateverItIsButAFolderStays) {
    for (const char* name : {"new", "readonly", "link", "folder"})
        writeFile(source + "/" + name, name);
    writeFile(target + "/readonly", "old");
    ASSERT_EQ(::chmod((target + "/readonly").c_str(), 0444), 0);
    writeFile(dir / "outside", "not the target's");
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (target + "/link").c_str()), 0);
    makeDirs(target + "/folder/kept");
    RecordingSystem system;
    const auto copied = [&](const std::string& name) {
        system.calls.clear();
        return copy(source + "/" + name, target + "/" + name);
    };
    EXPECT_EQ(copied("new"), 0u);
    EXPECT_THAT(system.calls, ElementsAre("place")) << "a new name replaces nothing";
    for (const char* name : {"readonly", "link"}) {
        EXPECT_EQ(copied(name), 0u);
        EXPECT_THAT(system.calls, ElementsAre("place", "fsync", "rename")) << name;
        EXPECT_EQ(readFile(target + "/" + name), name);
        EXPECT_TRUE(S_ISREG(statOf(target + "/" + name).st_mode)) << name;
    }
    EXPECT_EQ(readFile(dir / "outside"), "not the target's");
    EXPECT_EQ(copied("folder"), static_cast<uint32_t>(EISDIR));
    EXPECT_TRUE(exists(target + "/folder/kept"));
    EXPECT_THAT(messages(), ElementsAre("Can't open " + target + "/folder for writing - error=31"));
    EXPECT_THAT(temporariesIn(target), ElementsAre());
}

TEST_F(CopyFileTest, LinkIsFollowedOnlyWhereListedAndNeverIntoAPseudoFileSystem) {
    writeFile(dir / "outside", "linked");
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (source + "/link").c_str()), 0);
    EXPECT_EQ(copy(source + "/link", target + "/link"), 0u);
    EXPECT_EQ(readFile(target + "/link"), "linked");
    ASSERT_EQ(::symlink("/proc/version", (source + "/proc").c_str()), 0);
    EXPECT_EQ(copy(source + "/proc", target + "/proc"), static_cast<uint32_t>(EACCES));

    // Listed as a file, then swapped for a link.
    writeFile(source + "/swapped", "listed");
    const terbin::TBFolder from(TBString::fromBytes(source)), to(TBString::fromBytes(target));
    terbin::TBFileInfo entry;
    ASSERT_TRUE(entry.query(from.handle(), "swapped", L"swapped") && entry.isFile());
    ASSERT_EQ(::unlink((source + "/swapped").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (source + "/swapped").c_str()), 0);
    EXPECT_EQ(job->copyFileAt(from, entry, to, L"swapped", L"swapped"),
              static_cast<uint32_t>(EACCES));
    EXPECT_FALSE(exists(target + "/swapped"));
    EXPECT_THAT(messages(), ElementsAre("Can't open " + source + "/proc for reading - error=5",
                                        "Can't open swapped for reading - error=5"));
}

TEST(TemporaryName, OnlyTheExactFormCounts) {
    EXPECT_TRUE(BackupJob::isTemporaryName(L".~ulvaren-0123456789abcdef.tmp"));
    for (const wchar_t* nearMiss :
         {L".~ulvaren-0123456789ABCDEF.tmp", L".~ulvaren-0123456789abcde.tmp",
          L".~ulvaren-0123456789abcdef0.tmp", L".~ulvaren-0123456789abcdeg.tmp",
          L"~ulvaren-0123456789abcdef.tmp", L"x.~ulvaren-0123456789abcdef.tmp",
          L".~ulvaren-0123456789abcdef.tmp~", L".~ulvaren-0123456789abcdef.TMP",
          L".~ulvaren-0123456789abcd f.tmp", L".~ulvaren-.tmp"}) {
        EXPECT_FALSE(BackupJob::isTemporaryName(nearMiss)) << TBString(nearMiss).narrow();
    }
}

}  // namespace
