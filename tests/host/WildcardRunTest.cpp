// A set whose source is a wildcard entry, imported and run through the built
// ulvaren program as a user would.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;

namespace {

class WildcardRunTest : public ::testing::Test {
protected:
    // Runs ulvaren with the test's registry; output and exit status.
    Result ulvaren(const std::string& arguments) { return runUlvaren(arguments, dir / "reg.db"); }

    TempDir dir;
};

TEST_F(WildcardRunTest, EveryMatchedFolderIsCopiedUnderItsOwnName) {
    // "*" and "[2019]", read as patterns, would stand for other folders here.
    writeFile(dir / "home/ann/Documents/letter.txt", "ann");
    writeFile(dir / "home/ann/Documents/drafts/plan.txt", "plan");
    writeFile(dir / "home/*/Documents/star.txt", "star");
    writeFile(dir / "home/[2019]/Documents/old.txt", "old");
    writeFile(dir / "home/1/Music/song.txt", "not asked for");
    writeFile(dir / "home/ann/Music/tune.txt", "not asked for");
    // Full path creation keeps each matched folder apart in the backup.
    writeFile(dir / "homes.xml",
              "<backupset><Name>Homes</Name><Type>0</Type><FullPath>1</FullPath>"
              "<AddComputerFolder>0</AddComputerFolder>"
              "<AddBackupSetFolder>0</AddBackupSetFolder>"
              "<SourceFolders><F>" +
                  dir / "home/*/Documents" + "</F></SourceFolders></backupset>");
    const Result imported =
        ulvaren("import '" + dir / "homes.xml" + "' --target '" + dir / "out" + "'");
    ASSERT_EQ(imported.status, 0) << imported.out;

    const Result run = ulvaren("run Homes");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Homes: Complete"));
    EXPECT_THAT(run.out, HasSubstr("4 file(s) 14 bytes copied"));
    const std::string copied = dir / ("out" + dir.path() + "/home");
    EXPECT_EQ(readFile(copied + "/ann/Documents/letter.txt"), "ann");
    EXPECT_EQ(readFile(copied + "/ann/Documents/drafts/plan.txt"), "plan");
    EXPECT_EQ(readFile(copied + "/*/Documents/star.txt"), "star");
    EXPECT_EQ(readFile(copied + "/[2019]/Documents/old.txt"), "old");
}

}  // namespace
