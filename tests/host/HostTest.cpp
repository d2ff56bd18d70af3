// The built ulvaren program, run on trees and registries in a temporary
// folder as a user would.
#include <cstdio>

#include <future>

#include <gmock/gmock.h>

#include "support/UlvarenProgram.h"

using ::testing::EndsWith;
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

TEST_F(HostTest, ImportRunTwiceAndListWithASetThatNeverRan) {
    writeFile(dir / "broken.xml", "<backupset><Name>x</Name>");
    // Both sets share one target; only the first runs.
    Result imported =
        ulvaren("import " + define("Docs", dir / "src") + " " + define("Later", dir / "held") +
                " " + quoted("broken.xml") + " --target " + quoted("out"));
    EXPECT_EQ(imported.status, 1) << imported.out;
    EXPECT_THAT(imported.out, HasSubstr("added " + dir / "Docs.xml" + " as set 0 \"Docs\""));
    EXPECT_THAT(imported.out, HasSubstr("rejected " + dir / "broken.xml" + ": "));

    Result first = ulvaren("run Docs");
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_THAT(first.out, HasSubstr("Docs: Complete"));
    EXPECT_THAT(first.out, HasSubstr("2 file(s) 10 bytes copied, 0 unchanged, 1 skipped"));
    EXPECT_EQ(readFile(dir / "out/sub/b.txt"), "bravo");

    Result second = ulvaren("run 0");
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_THAT(second.out, HasSubstr("0 file(s) 0 bytes copied, 2 unchanged"));

    Result listed = ulvaren("list");
    EXPECT_EQ(listed.status, 0) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr("0  Docs\n     status: Complete"));
    EXPECT_THAT(listed.out, HasSubstr("log: " + dir / "out/backup-Docs.log"));
    EXPECT_THAT(listed.out, EndsWith("1  Later\n     status: Ready (never run)\n"))
        << "no last-run figures and no log for it";
}

TEST_F(HostTest, FailuresAndUsageErrorsHaveTheirOwnExitStatus) {
    ulvaren("import " + define("Gone", dir / "src") + " --target " + quoted("out"));
    // A folder stands where the copy of a.txt must go.
    writeFile(dir / "out/a.txt/blocker", "x");
    Result failed = ulvaren("run Gone");
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_THAT(failed.out, HasSubstr("Gone: Failed"));

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
    const std::string held =
        define("Held", dir / "held", "<ExcludeFromStartAll>1</ExcludeFromStartAll>");
    ASSERT_EQ(ulvaren("import " + held + " --target " + quoted("out-held")).status, 0);

    Result all = ulvaren("run --all", "ULVAREN_DEFAULT_TARGET=" + quoted("from-env"));
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_THAT(all.out, HasSubstr("Docs: Complete"));
    EXPECT_THAT(all.out, Not(HasSubstr("Held")));
    EXPECT_EQ(readFile(dir / "from-env/a.txt"), "alpha");
    EXPECT_THAT(all.out, HasSubstr("log: " + dir / "from-env/backup-Docs.log"));
    EXPECT_FALSE(exists(dir / "out-held/h.txt"));

    Result named = ulvaren("run Held");
    EXPECT_EQ(named.status, 0) << named.out;
    EXPECT_EQ(readFile(dir / "out-held/h.txt"), "held back");

    Result byOption = ulvaren("run Docs --default-target " + quoted("from-option"),
                              "ULVAREN_DEFAULT_TARGET=" + quoted("not-here"));
    EXPECT_EQ(byOption.status, 0) << byOption.out;
    EXPECT_EQ(readFile(dir / "from-option/a.txt"), "alpha");
    EXPECT_FALSE(exists(dir / "not-here/a.txt"));
    EXPECT_THAT(byOption.out, HasSubstr("2 file(s) 10 bytes copied, 0 unchanged"))
        << "a new target: copied afresh";
}

TEST_F(HostTest, MissingTargetAndASecondRunOfTheSetFailLoudlyAndListShowsWhy) {
    ASSERT_EQ(
        ulvaren("import " + define("Docs", dir / "src") + " --target " + quoted("out")).status, 0);
    EXPECT_TRUE(exists(dir / "out")) << "import makes the target folder";
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
    const std::string held = defineHeld("Held", dir / "src", gate);
    ASSERT_EQ(ulvaren("import " + held + " --target " + quoted("out-held")).status, 0);
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
