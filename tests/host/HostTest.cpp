// Runs the built ulvaren program on trees and registries in a temporary
// folder, as a user would.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        writeFile(dir / "src/sub/b.txt", "bravo");
        writeFile(dir / "src/skip.tmp", "scratch");
        writeDefinition("docs.xml", "Docs", dir / "src");
    }
    void writeDefinition(const std::string& file, const std::string& name,
                         const std::string& source) {
        writeFile(dir / file, "<backupset><Name>" + name +
                                  "</Name><Type>0</Type><FullPath>0</FullPath>"
                                  "<AddComputerFolder>0</AddComputerFolder>"
                                  "<SourceFolders><F>" + source + "</F></SourceFolders>"
                                  "<ExcludeFiles><F>*.tmp</F></ExcludeFiles></backupset>");
    }
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

TEST_F(HostTest, ImportListAndRunTwice) {
    writeFile(dir / "broken.xml", "<backupset><Name>x</Name>");
    Result imported = ulvaren("import '" + dir / "docs.xml" + "' '" + dir / "broken.xml" +
                              "' --target '" + dir / "out" + "'");
    EXPECT_EQ(imported.status, 1) << imported.out;
    EXPECT_THAT(imported.out, HasSubstr("added " + dir / "docs.xml" + " as set 0 \"Docs\""));
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
    EXPECT_EQ(listed.status, 0);
    EXPECT_THAT(listed.out, HasSubstr("0  Docs"));
    EXPECT_THAT(listed.out, HasSubstr("status: Complete"));
    EXPECT_THAT(listed.out, HasSubstr("log: " + dir / "out/backup-Docs.log"));
}

TEST_F(HostTest, FailuresAndUsageErrorsHaveTheirOwnExitStatus) {
    writeDefinition("gone.xml", "Gone", dir / "src");
    ulvaren("import '" + dir / "gone.xml" + "' --target '" + dir / "out" + "'");
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

TEST_F(HostTest, InterruptStopsTheRunAndLeavesACancelledSetWithItsLog) {
    for (int i = 0; i < 1000; ++i) writePatternFile(dir / ("big/f" + std::to_string(i)), 1 << 20);
    writeDefinition("big.xml", "Big", dir / "big");
    ASSERT_EQ(ulvaren("import '" + dir / "big.xml" + "' --target '" + dir / "out" + "'").status, 0);

    const std::string command = std::string(ULVAREN_BINARY) + " run Big --registry '" +
                                dir / "reg.db" + "' > '" + dir / "run.out" + "' 2>&1";
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt once copying is under way.
    for (int i = 0; i < 500 && readFile(dir / "out/backup-Big.log").find("copy folder") ==
                                   std::string::npos;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << readFile(dir / "run.out");
    EXPECT_THAT(readFile(dir / "run.out"), HasSubstr("Big: Cancelled"));
    const std::string log = readFile(dir / "out/backup-Big.log");
    EXPECT_THAT(log, HasSubstr("backup set Big ended - Cancelled"));
    EXPECT_THAT(log, HasSubstr("file(s) failed"));

    Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("status: Cancelled"));
    EXPECT_THAT(listed.out, Not(HasSubstr("status: Complete")));
}

}  // namespace
