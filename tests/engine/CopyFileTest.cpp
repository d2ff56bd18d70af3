#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include <gmock/gmock.h>

#include "support/FaultySystem.h"
#include "tests/engine/CopyFixture.h"

using ::testing::ElementsAre;

namespace {

TEST_F(CopyFileTest, CopiesAreFaithfulWithKernelCopiesWorkingDeclinedOrComingUpEmpty) {
    const FaultySystem::Hook kernelCopies[] = {nullptr, [](int) { return EXDEV; },
                                               [](int) { return FaultySystem::Outcome(0, 0); }};
    for (size_t k = 0; k < std::size(kernelCopies); ++k) {
        FaultySystem faults;
        faults.on(FaultySystem::KernelCopy, "", kernelCopies[k]);
        expectFaithfulCopy(std::to_string(k) + "empty", 0, 0644);
        expectFaithfulCopy(std::to_string(k) + "caf\xe9-\xff.bin", 65536 * 2 + 1, 0640);
    }
    EXPECT_EQ(set.filesCopied, 6);
    EXPECT_EQ(set.bytesCopied, 3 * (65536 * 2 + 1));
    EXPECT_TRUE(set.failedFiles.isEmpty());
    EXPECT_TRUE(messages().empty());
}

TEST_F(CopyFileTest, ReadOnlySourceGivesReadOnlyTargetThatIsReplacedNextTime) {
    const std::string from = source + "/ro", to = target + "/ro";
    writeFile(from, "first");
    ASSERT_EQ(::chmod(from.c_str(), 0444), 0);
    writeFile(to, "old");
    ASSERT_EQ(::chmod(to.c_str(), 0666), 0);
    ASSERT_EQ(copy(from, to), 0u);
    EXPECT_EQ(statOf(to).st_mode & 0777, 0444u) << "never more open than its source";

    ASSERT_EQ(::chmod(from.c_str(), 0644), 0);
    writeFile(from, "second version");
    ASSERT_EQ(::chmod(from.c_str(), 0444), 0);
    // Inode numbers are reused at once, birth times not.
    const auto bornBefore = birthOf(to);
    ASSERT_TRUE(clockMovedPast(to));
    ASSERT_EQ(copy(from, to), 0u);
    EXPECT_EQ(readFile(to), "second version");
    EXPECT_GT(birthOf(to), bornBefore) << "the read-only target is replaced by a new file";
    EXPECT_EQ(statOf(to).st_mode & 0777, 0444u);
}

TEST_F(CopyFileTest, FailedOpenReadOrWriteIsLoggedRecordedAndLeavesTheFilesAlone) {
    const std::string from = source + "/r", to = target + "/r", gone = source + "/vanished";
    writePatternFile(from, 65536 * 4);
    const std::string original = readFile(from);
    writeFile(target + "/vanished", "previous backup");
    EXPECT_EQ(copy(gone, target + "/vanished"), static_cast<uint32_t>(ENOENT));
    const std::tuple<FaultySystem::Call, std::string, FaultySystem::Hook, int> faults[] = {
        {FaultySystem::Open, Temporary, [](int) { return EACCES; }, EACCES},
        {FaultySystem::Read, "src/r", [](int call) { return call < 2 ? 0 : EIO; }, EIO},
        {FaultySystem::Write, Temporary, [](int) { return EIO; }, EIO},
        // The second write makes no progress.
        {FaultySystem::Write, Temporary,
         [](int call) { return FaultySystem::Outcome(0, call < 1 ? SIZE_MAX : 0); }, EIO}};
    for (const auto& [call, part, hook, error] : faults) {
        FaultySystem system;
        system.on(call, part, hook);
        EXPECT_EQ(copy(from, to), static_cast<uint32_t>(error));
    }
    EXPECT_THAT(messages(), ElementsAre("Can't open " + gone + " for reading - error=2",
                                        "Can't open " + to + " for writing - error=5",
                                        "Failed to read from " + from + " - errno=5",
                                        "Failed to write to " + to + " - error=31",
                                        "Failed to write to suffcient data to " + to +
                                            " - read 65536, wrote 0"));
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(gone, from, from, from, from));
    EXPECT_EQ(set.filesCopied, 0);
    EXPECT_EQ(readFile(target + "/vanished"), "previous backup");
    EXPECT_EQ(readFile(from), original);
    EXPECT_FALSE(exists(to));
    EXPECT_THAT(temporariesIn(target), ElementsAre());
}

TEST_F(CopyFileTest, ChunkCutShortByAFullDiskIsTakenBackAndWrittenOnceWhenSpaceReturns) {
    const std::string from = source + "/part";
    const uint64_t size = 65536 * 4 + 100;
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
        EXPECT_EQ(sizeWhileFull, 2 * 65536) << "the cut chunk's bytes are taken back";
        EXPECT_EQ(result, 0u);
        EXPECT_TRUE(sameContents(from, to)) << "the retried chunk is in its place, once";
        EXPECT_THAT(temporariesIn(target), ElementsAre());
    }
    EXPECT_TRUE(set.failedFiles.isEmpty());
}

TEST_F(CopyFileTest, StopBeforeTheFirstChunkOrWhileWaitingForSpaceEndsTheCopy) {
    const std::string from = source + "/f", to = target + "/f";
    writePatternFile(from, 65536 * 3);
    theBaseApp.runAllowed = false;
    EXPECT_EQ(copy(from, to), 0u);
    EXPECT_FALSE(exists(to)) << "a copy that never began leaves nothing";

    theBaseApp.runAllowed = true;
    FaultySystem faults;
    faults.fail(FaultySystem::Write, Temporary, ENOSPC);
    std::atomic<uint32_t> result{99};
    std::thread worker([&] { result = copy(from, to); });
    EXPECT_TRUE(eventually([&] { return set.waitingForDiskSpace.load(); }));
    set.stopRequested = true;
    worker.join();
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(set.waitingForDiskSpace) << "left set until the next run starts";
    EXPECT_THAT(strings(set.failedFiles), ElementsAre(from, from));
    const std::string cancelled = "Copy to " + to + " cancelled";
    EXPECT_THAT(messages(), ElementsAre(cancelled, cancelled));
    EXPECT_FALSE(exists(to));
    EXPECT_THAT(temporariesIn(target), ElementsAre());
}

}  // namespace
