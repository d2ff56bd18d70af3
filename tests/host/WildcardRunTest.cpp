// A set whose source is a wildcard entry, imported and run through the built
// ulvaren program as a user would.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"

using ::testing::HasSubstr;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

class WildcardRunTest : public ::testing::Test {
protected:
    // Runs ulvaren with the test's registry; output and exit status.
    Result ulvaren(const std::string& arguments) {
        const std::string command = std::string(ULVAREN_BINARY) + " " + arguments +
                                    " --registry '" + dir / "reg.db" + "' 2>&1";
        Result result;
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) result.out.append(buffer, n);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

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
