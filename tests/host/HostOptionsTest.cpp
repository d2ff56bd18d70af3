// The ulvaren program's choices a user makes outside the sets themselves:
// where sets without a target go, which sets "run --all" leaves out, and how
// "list" shows a set that has not run yet.

#include <fstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/UlvarenProgram.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class HostOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        writeFile(dir / "held/h.txt", "held back");
    }
    // A definition of a set that copies `source` straight into its target.
    void writeDefinition(const std::string& file, const std::string& name,
                         const std::string& source, const std::string& extra = "") {
        writeFile(dir / file, "<backupset><Name>" + name +
                                  "</Name><Type>0</Type><FullPath>0</FullPath>"
                                  "<AddComputerFolder>0</AddComputerFolder>" +
                                  extra + "<SourceFolders><F>" + source +
                                  "</F></SourceFolders></backupset>");
    }
    // Runs `environment ulvaren arguments` with the test's registry, its
    // folder as home and no default target from the caller's environment.
    Result ulvaren(const std::string& arguments, const std::string& environment = "") {
        return runUlvaren(arguments, dir / "reg.db",
                          "-u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") + " " + environment);
    }
    std::string quoted(const std::string& relative) { return "'" + dir / relative + "'"; }

    TempDir dir;
};

TEST_F(HostOptionsTest, SetWithoutTargetGoesToTheDefaultTargetAndTheOptionWins) {
    writeDefinition("docs.xml", "Docs", dir / "src");
    ASSERT_EQ(ulvaren("import " + quoted("docs.xml")).status, 0);

    Result byVariable = ulvaren("run Docs", "ULVAREN_DEFAULT_TARGET=" + quoted("from-env"));
    EXPECT_EQ(byVariable.status, 0) << byVariable.out;
    EXPECT_EQ(readFile(dir / "from-env/a.txt"), "alpha");
    EXPECT_THAT(byVariable.out, HasSubstr("log: " + dir / "from-env/backup-Docs.log"));

    Result byOption = ulvaren("run Docs --default-target " + quoted("from-option"),
                              "ULVAREN_DEFAULT_TARGET=" + quoted("not-here"));
    EXPECT_EQ(byOption.status, 0) << byOption.out;
    EXPECT_EQ(readFile(dir / "from-option/a.txt"), "alpha");
    EXPECT_FALSE(std::ifstream(dir / "not-here/a.txt").good());
    EXPECT_THAT(byOption.out, HasSubstr("1 file(s) 5 bytes copied, 0 unchanged"))
        << "a new target: copied afresh";
}

TEST_F(HostOptionsTest, RunAllLeavesOutSetsExcludedFromIt) {
    writeDefinition("docs.xml", "Docs", dir / "src");
    writeDefinition("held.xml", "Held", dir / "held",
                    "<ExcludeFromStartAll>1</ExcludeFromStartAll>");
    ASSERT_EQ(ulvaren("import " + quoted("docs.xml") + " --target " + quoted("out-docs")).status,
              0);
    ASSERT_EQ(ulvaren("import " + quoted("held.xml") + " --target " + quoted("out-held")).status,
              0);

    Result all = ulvaren("run --all");
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_THAT(all.out, HasSubstr("Docs: Complete"));
    EXPECT_THAT(all.out, Not(HasSubstr("Held")));
    EXPECT_EQ(readFile(dir / "out-docs/a.txt"), "alpha");
    EXPECT_FALSE(std::ifstream(dir / "out-held/h.txt").good());

    // Named, the set runs.
    Result named = ulvaren("run Held");
    EXPECT_EQ(named.status, 0) << named.out;
    EXPECT_EQ(readFile(dir / "out-held/h.txt"), "held back");
}

TEST_F(HostOptionsTest, ListShowsASetThatNeverRanWithoutALastRun) {
    // Both sets share one target; only the first runs.
    writeDefinition("docs.xml", "Docs", dir / "src");
    writeDefinition("later.xml", "Later", dir / "held");
    ASSERT_EQ(ulvaren("import " + quoted("docs.xml") + " " + quoted("later.xml") + " --target " +
                      quoted("out"))
                  .status,
              0);
    ASSERT_EQ(ulvaren("run Docs").status, 0);

    Result listed = ulvaren("list");
    EXPECT_EQ(listed.status, 0) << listed.out;
    EXPECT_THAT(listed.out, HasSubstr("0  Docs\n     status: Complete"));
    EXPECT_THAT(listed.out, EndsWith("1  Later\n     status: Ready (never run)\n"))
        << "no last-run figures and no log for it";
}

}  // namespace
