// Runs the built ulvaren program on trees and registries in a temporary
// folder, as a user would.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Eventually.h"
#include "support/ScriptGate.h"
#include "support/TempDir.h"
#include "support/UlvarenProgram.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        writeFile(dir / "src/sub/b.txt", "bravo");
        writeFile(dir / "src/skip.tmp", "scratch");
        writeDefinition("docs.xml", "Docs", dir / "src");
    }
    // `more` is further elements of the set, as XML.
    void writeDefinition(const std::string& file, const std::string& name,
                         const std::string& source, const std::string& more = "") {
        const std::string fixed =
            "<Type>0</Type><FullPath>0</FullPath>"
            "<AddComputerFolder>0</AddComputerFolder>"
            "<ExcludeFiles><F>*.tmp</F></ExcludeFiles>";
        writeFile(dir / file, "<backupset><Name>" + name + "</Name>" + fixed +
                                  "<SourceFolders><F>" + source + "</F></SourceFolders>" + more +
                                  "</backupset>");
    }
    // Runs ulvaren with the test's registry; output and exit status.
    Result ulvaren(const std::string& arguments) { return runUlvaren(arguments, dir / "reg.db"); }

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
    // The pre-backup script holds the run until the interrupt has been seen.
    ScriptGate gate(dir / "gate");
    writeDefinition("held.xml", "Held", dir / "src",
                    "<PreBackup><Enabled>1</Enabled><Program>/bin/sh</Program><Args>-c '" +
                        gate.shellCommand() + "'</Args></PreBackup>");
    ASSERT_EQ(ulvaren("import '" + dir / "held.xml" + "' --target '" + dir / "out" + "'").status,
              0);

    // At a terminal, where the run says at once that it is stopping.
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string registry = dir / "reg.db";
        execl(ULVAREN_BINARY, "ulvaren", "run", "Held", "--registry", registry.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    fcntl(terminal, F_SETFL, O_NONBLOCK);
    std::string shown;
    const auto readTerminal = [&] {
        char buffer[4096];
        for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    };
    const bool held = gate.waitUntilReached();
    if (held)
        kill(child, SIGINT);
    const bool seen = held && eventually([&] {
                          readTerminal();
                          return shown.find("stopping") != std::string::npos;
                      });
    gate.open();
    int status = 0;
    const bool ended = eventually([&] {
        readTerminal();
        return waitpid(child, &status, WNOHANG) == child;
    });
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    readTerminal();
    close(terminal);

    ASSERT_TRUE(held) << shown;
    EXPECT_TRUE(seen) << shown;
    ASSERT_TRUE(ended) << shown;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << shown;
    EXPECT_THAT(shown, HasSubstr("Held: Cancelled"));
    EXPECT_NE(access((dir / "out/a.txt").c_str(), F_OK), 0) << "nothing is copied after it";
    const std::string log = readFile(dir / "out/backup-Held.log");
    EXPECT_THAT(log, HasSubstr("backup set Held ended - Cancelled"));
    EXPECT_THAT(log, HasSubstr("0 file(s) 0 bytes copied"));

    Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("status: Cancelled"));
    EXPECT_THAT(listed.out, Not(HasSubstr("status: Complete")));
}

}  // namespace
