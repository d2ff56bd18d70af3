// Copies of single files: faithful whichever way the kernel helps, written
// under a temporary name that replaces the older copy only when complete,
// keeping a source's holes, waiting out a full disk, noticing a source that
// changes under it, and following links only as listed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
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

TEST_F(CopyFileTest, CopiesAreFaithfulWithKernelCopiesWorkingDeclinedOrComingUpEmpty) {
    const FaultySystem::Hook kernelCopies[] = {nullptr, [](int) { return EXDEV; },
                                               [](int) { return FaultySystem::Outcome(0, 0); }};
    for (size_t k = 0; k < std::size(kernelCopies); ++k) {
        FaultySystem faults;
        faults.on(FaultySystem::KernelCopy, "", kernelCopies[k]);
        expectFaithfulCopy(std::to_string(k) + "empty", 0, 0444);
        expectFaithfulCopy(std::to_string(k) + "caf\xe9-\xff.bin", Chunk * 2 + 1, 0640);
    }
    EXPECT_EQ(set.filesCopied, 6);
    EXPECT_EQ(set.bytesCopied, 3 * (Chunk * 2 + 1));
    EXPECT_TRUE(set.failedFiles.isEmpty());
    EXPECT_TRUE(messages().empty());
}

TEST_F(CopyFileTest, FailureOrStopLeavesThePreviousCopyAndNoTemporaryFile) {
    const std::string from = source + "/f", to = target + "/f",
                      cancelled = "Copy to " + to + " cancelled";
    writeFile(to, "previous backup");
    writePatternFile(from, 4 * Chunk);
    const std::string data = readFile(from);
    // Each strikes at the third of four chunks, or when the copy is opened;
    // `stopAt` raises a stop at call `when` and lets the call end with `error`.
    const auto stopAt = [&](int when, int call, int error) {
        if (call == when)
            set.stopRequested = true;
        return error;
    };
    const std::tuple<FaultySystem::Call, std::string, FaultySystem::Hook, uint32_t, std::string>
        faults[] = {
            {FaultySystem::Write, Temporary, [&](int call) { return stopAt(2, call, 0); }, 0,
             cancelled},
            {FaultySystem::Open, Temporary, [](int) { return EACCES; }, EACCES,
             "Can't open " + to + " for writing - error=5"},
            {FaultySystem::Read, "src/f", [](int call) { return call == 2 ? EIO : 0; }, EIO,
             "Failed to read from " + from + " - errno=5"},
            {FaultySystem::Write, Temporary, [](int call) { return call >= 2 ? EIO : 0; }, EIO,
             "Failed to write to " + to + " - error=31"},
            // The third chunk makes no progress.
            {FaultySystem::Write, Temporary,
             [](int call) { return FaultySystem::Outcome(0, call < 2 ? SIZE_MAX : 0); }, EIO,
             "Failed to write to suffcient data to " + to + " - read " + std::to_string(Chunk) +
                 ", wrote 0"},
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
    EXPECT_EQ(set.failedFiles.size(), 12);
    EXPECT_EQ(set.filesCopied, 0);
}

TEST_F(CopyFileTest, ChunkCutShortByAFullDiskIsTakenBackAndWrittenOnceWhenSpaceReturns) {
    const std::string from = source + "/part";
    const uint64_t size = Chunk * 4 + 100;
    writePatternFile(from, size);
    for (const bool kernelCopies : {true, false}) {
        SCOPED_TRACE(kernelCopies ? "through the kernel" : "through the buffer");
        const std::string to = target + "/part" + std::to_string(kernelCopies);
        FaultySystem faults;
        if (!kernelCopies)
            faults.fail(FaultySystem::KernelCopy, "", EXDEV);
        // 1000 bytes of the third chunk reach the disk before it is full.
        std::atomic<bool> full{false};
        std::atomic<int> refused{0};
        faults.on(FaultySystem::Write, Temporary, [&](int call) -> FaultySystem::Outcome {
            if (call == 2) {
                full = true;
                return {0, 1000};
            }
            refused += full;
            return full ? ENOSPC : 0;
        });
        std::atomic<uint32_t> result{99};
        std::thread worker([&] { result = copy(from, to); });
        const bool retried = eventually([&] { return refused >= 2; });
        const bool waiting = set.waitingForDiskSpace;
        // Nothing is written while the disk stays full, so the size holds still.
        const std::vector<std::string> written = temporariesIn(target);
        const int64_t sizeWhileFull = written.size() == 1 ? statOf(written[0]).st_size : -1;
        full = false;
        worker.join();
        ASSERT_TRUE(retried);
        EXPECT_TRUE(waiting) << "the wait shows while it lasts";
        EXPECT_EQ(sizeWhileFull, 2 * Chunk) << "the cut chunk's bytes are taken back";
        EXPECT_EQ(result, 0u);
        EXPECT_TRUE(sameContents(from, to)) << "the retried chunk is in its place, once";
        EXPECT_THAT(temporariesIn(target), ElementsAre());
    }
    EXPECT_TRUE(set.failedFiles.isEmpty());
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
    FaultySystem faults;
    // Once the first chunk is read, the file's start is rewritten: only the
    // modification time tells.
    faults.on(FaultySystem::Read, "src/doc", [&](int call) {
        if (call == 1)
            std::fstream(from, std::ios::in | std::ios::out | std::ios::binary) << "NEWER";
        return 0;
    });
    EXPECT_EQ(copy(from, to), 0u);
    EXPECT_TRUE(sameContents(from, to));
    EXPECT_EQ(statOf(to).st_mtim.tv_nsec, statOf(from).st_mtim.tv_nsec);

    const std::string busy = source + "/busy";
    writePatternFile(busy, 2 * Chunk);
    writeFile(target + "/busy", "previous backup");
    // Every look at the file finds it longer.
    faults.on(FaultySystem::Examine, "src/busy", [&](int) {
        std::ofstream(busy, std::ios::app) << "+";
        return 0;
    });
    EXPECT_EQ(copy(busy, target + "/busy"), static_cast<uint32_t>(EBUSY));
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
    // Renames; one that refuses to replace anything is a placing.
    int renameat2(int fromDir, const char* from, int toDir, const char* to,
                  unsigned flags) override {
        calls.push_back(flags == RENAME_NOREPLACE ? "place" : "rename");
        return FaultySystem::renameat2(fromDir, from, toDir, to, flags);
    }
    std::vector<std::string> calls;
};

TEST_F(CopyFileTest, OlderCopyIsReplacedFlushedFirstWhateverItIsButAFolderStays) {
    for (const char* name : {"new", "readonly", "link", "folder"})
        writeFile(source + "/" + name, name);
    writeFile(target + "/readonly", "old");
    ASSERT_EQ(::chmod((target + "/readonly").c_str(), 0444), 0);
    writeFile(outside, "not the target's");
    ASSERT_EQ(::symlink(outside.c_str(), (target + "/link").c_str()), 0);
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
    EXPECT_EQ(readFile(outside), "not the target's");
    EXPECT_EQ(copied("folder"), static_cast<uint32_t>(EISDIR));
    EXPECT_TRUE(exists(target + "/folder/kept"));
    EXPECT_THAT(messages(), ElementsAre("Can't open " + target + "/folder for writing - error=31"));
    EXPECT_THAT(temporariesIn(target), ElementsAre());
}

// A listed link to a file is copied as that file (HostileTreeTest's alias.txt).
TEST_F(CopyFileTest, LinkIntoAPseudoFileSystemOrSwappedInAfterListingIsNotFollowed) {
    writeFile(outside, "linked");
    ASSERT_EQ(::symlink("/proc/version", (source + "/proc").c_str()), 0);
    EXPECT_EQ(copy(source + "/proc", target + "/proc"), static_cast<uint32_t>(EACCES));

    // Listed as a file, then swapped for a link.
    writeFile(source + "/swapped", "listed");
    const terbin::TBFolder from(TBString::fromBytes(source)), to(TBString::fromBytes(target));
    terbin::TBFileInfo entry;
    ASSERT_TRUE(entry.query(from.handle(), "swapped", L"swapped") && entry.isFile());
    ASSERT_EQ(::unlink((source + "/swapped").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (source + "/swapped").c_str()), 0);
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
