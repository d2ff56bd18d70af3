// The built ulvaren program, run on trees and registries in a temporary
// folder as a user would.
#include <cstdio>

#include <future>

#include <gmock/gmock.h>

#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class HostTest : public UlvarenTest {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        writeFile(dir / "src/sub/b.txt", "bravo");
        writeFile(dir / "src/skip.tmp", "scratch");
        writeFile(dir / "held/h.txt", "held back");
    }
};

TEST_F(HostTest, UsageErrorsHaveTheirOwnExitStatus) {
    EXPECT_EQ(ulvaren("run NoSuchSet").status, 2);
    EXPECT_EQ(ulvaren("run").status, 2);
    EXPECT_EQ(ulvaren("frobnicate").status, 2);
    EXPECT_EQ(ulvaren("run --help").status, 0);
}

TEST_F(HostTest, ForeignRegistryFileIsRefusedAndLeftAlone) {
    writeFile(dir / "reg.db", "my notes, not a registry");
    Result result = ulvaren("list");
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, HasSubstr("not a registry store"));
    EXPECT_EQ(readFile(dir / "reg.db"), "my notes, not a registry");
}

TEST_F(HostTest, RunAllLeavesOutExcludedSetsAndSetsWithoutTargetGoToTheDefaultTarget) {
    ASSERT_EQ(ulvaren("import " + define("Docs", dir / "src")).status, 0);
    ASSERT_EQ(
        importInto(define("Held", dir / "held", "<ExcludeFromStartAll>1</ExcludeFromStartAll>"),
                   "out-held"),
        0);

    Result all = ulvaren("run --all", "ULVAREN_DEFAULT_TARGET=" + quoted("from-env"));
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_THAT(all.out, HasSubstr("Docs: Complete"));
    EXPECT_THAT(all.out, Not(HasSubstr("Held")));
    EXPECT_EQ(readFile(dir / "from-env/a.txt"), "alpha");
    EXPECT_THAT(all.out, HasSubstr("log: " + dir / "from-env/backup-Docs.log"));
    EXPECT_FALSE(exists(dir / "out-held/h.txt"));

    // Named, an excluded set runs; Docs finds its copies in place.
    Result named = ulvaren("run Held Docs", "ULVAREN_DEFAULT_TARGET=" + quoted("from-env"));
    EXPECT_EQ(named.status, 0) << named.out;
    EXPECT_EQ(readFile(dir / "out-held/h.txt"), "held back");
    EXPECT_THAT(named.out, HasSubstr("0 file(s) 0 bytes copied, 2 unchanged"));

    Result byOption = ulvaren("run Docs --default-target " + quoted("from-option"),
                              "ULVAREN_DEFAULT_TARGET=" + quoted("not-here"));
    EXPECT_EQ(byOption.status, 0) << byOption.out;
    EXPECT_EQ(readFile(dir / "from-option/a.txt"), "alpha");
    EXPECT_FALSE(exists(dir / "not-here/a.txt"));
    EXPECT_THAT(byOption.out, HasSubstr("2 file(s) 10 bytes copied, 0 unchanged, 1 skipped"))
        << "a new target: copied afresh";
}

TEST_F(HostTest, MissingTargetAndASecondRunOfTheSetFailLoudlyAndListShowsWhy) {
    ASSERT_EQ(importInto(define("Docs", dir / "src"), "out"), 0);
    ASSERT_EQ(ulvaren("run Docs").status, 0);

    // The drive is unplugged: the run fails, makes nothing, and says why,
    // and so does list, though the last log says Complete.
    ASSERT_EQ(::rename((dir / "out").c_str(), (dir / "unplugged").c_str()), 0);
    Result gone = ulvaren("run Docs");
    EXPECT_EQ(gone.status, 1) << gone.out;
    EXPECT_THAT(gone.out, HasSubstr("Docs: Failed\n  why: its target folder " + dir / "out" +
                                    " is not there"));
    EXPECT_FALSE(exists(dir / "out"));
    Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("status: Failed"));
    EXPECT_THAT(listed.out, HasSubstr("why: its target folder"));
    ASSERT_EQ(::rename((dir / "unplugged").c_str(), (dir / "out").c_str()), 0);

    // While one process runs the set (held in its pre-backup script), a
    // second one is refused at once, and the first completes.
    ScriptGate gate(dir / "gate");
    ASSERT_EQ(importInto(defineHeld("Held", dir / "src", gate), "out-held"), 0);
    std::future<Result> first = std::async(std::launch::async, [&] { return ulvaren("run Held"); });
    const bool reached = gate.waitUntilReached();
    const Result second = reached ? ulvaren("run Held") : Result{};
    gate.open();
    const Result firstDone = first.get();
    ASSERT_TRUE(reached) << firstDone.out;
    EXPECT_EQ(second.status, 1) << second.out;
    EXPECT_THAT(second.out, HasSubstr("Held: Failed\n  why: it is being run by process "));
    EXPECT_EQ(firstDone.status, 0) << firstDone.out;
    EXPECT_THAT(firstDone.out, HasSubstr("Held: Complete"));
    EXPECT_THAT(ulvaren("list").out, HasSubstr("1  Held\n     status: Complete"))
        << "the refused run leaves the record to the one that ran";
}

}  // namespace
