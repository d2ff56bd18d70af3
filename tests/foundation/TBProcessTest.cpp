#include "foundation/TBProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/TBResult.h"
#include "support/TempDir.h"

using namespace terbin;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Words = std::vector<std::string>;

namespace {

// The state letter of /proc/<pid>/stat; '\0' when there is no such process.
char stateOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return std::getline(stat, line) ? line.at(line.rfind(')') + 2) : '\0';
}

template <typename Condition>
bool within(std::chrono::milliseconds limit, Condition condition) {
    for (const auto end = Clock::now() + limit; !condition(); std::this_thread::sleep_for(10ms)) {
        if (Clock::now() >= end)
            return false;
    }
    return true;
}

}  // namespace

TEST(CommandLineSplitting, FollowsShellQuotingWithoutExpansion) {
    const std::pair<const wchar_t*, Words> cases[] = {
        {L"  a  b\tc\nd ", {"a", "b", "c", "d"}},
        {L" \t ", {}},
        {L"echo $HOME *.txt >out | x; #c", {"echo", "$HOME", "*.txt", ">out", "|", "x;", "#c"}},
        {L"\"/opt/my scripts/pre backup.sh\" 'a\\b \"c\"  $d'",
         {"/opt/my scripts/pre backup.sh", "a\\b \"c\"  $d"}},
        {L"\"\\\" \\\\ \\$ \\` \\n \\'\"", {"\" \\ $ ` \\n \\'"}},
        {L"\"a\\\nb\"", {"ab"}},
        {L"a\\ b c\\'d \\\"e x\\\ny end\\", {"a b", "c'd", "\"e", "xy", "end\\"}},
        {L"pre\"fix \"'mid 'end \"\" ''", {"prefix mid end", "", ""}},
        {L"\"/tmp/Gr\u00fc\u00df/s\u00e9 1\"", {"/tmp/Gr\xc3\xbc\xc3\x9f/s\xc3\xa9 1"}},
    };
    for (const auto& [line, expected] : cases) {
        Words words{"left from before"};
        EXPECT_TRUE(TBProcess::splitCommandLine(line, words)) << TBString(line).narrow();
        EXPECT_EQ(words, expected) << TBString(line).narrow();
    }
    Words words;
    for (const wchar_t* line : {L"\"abc", L"'abc", L"\"a\\\"", L"\"\\", L"ok 'x"})
        EXPECT_FALSE(TBProcess::splitCommandLine(line, words)) << TBString(line).narrow();
    EXPECT_EQ(words, Words{"ok"});
}

class TBProcessTest : public ::testing::Test {
protected:
    uint32_t run(const TBString& line, uint64_t timeoutMs = 10000) {
        EXPECT_EQ(process.create(line), TB_OK) << line.narrow();
        return process.waitUntilStopped(timeoutMs);
    }

    TBProcess process;
    TempDir dir;
};

TEST_F(TBProcessTest, ExitCodeIsTheProgramsOr128PlusTheSignalThatEndedIt) {
    EXPECT_EQ(run(L"sh -c 'exit 2'"), TB_OK);
    EXPECT_EQ(process.getExitCode(), 2);
    EXPECT_EQ(run(L"false"), TB_OK);  // found on PATH
    EXPECT_EQ(process.getExitCode(), 1);
    EXPECT_EQ(run(L"sh -c 'kill -USR1 $$'"), TB_OK);
    EXPECT_EQ(process.getExitCode(), 128 + SIGUSR1);
}

TEST_F(TBProcessTest, QuotedProgramPathWithBlanksGetsItsArgumentsAsSplit) {
    const std::string script = dir / "my scripts/pre backup.sh";
    writeFile(script, "#!/bin/sh\nprintf '[%s]' \"$@\" > \"$(dirname \"$0\")/out\"\n");
    chmod(script.c_str(), 0755);
    EXPECT_EQ(run(TBString::fromBytes("\"" + script + "\" 'a  b' \"\" c\\ d $HOME")), TB_OK);
    EXPECT_EQ(readFile(dir / "my scripts/out"), "[a  b][][c d][$HOME]");
}

TEST_F(TBProcessTest, StartFailuresGiveTheirResultCodes) {
    EXPECT_EQ(process.create(L"/nonexistent/program"), TB_FILE_NOT_FOUND);
    EXPECT_EQ(tb_status_getLastError(), TB_FILE_NOT_FOUND);
    EXPECT_EQ(process.create(L"no-such-program-on-the-path"), TB_FILE_NOT_FOUND);
    writeFile(dir / "plain.sh", "exit 0\n");
    chmod((dir / "plain.sh").c_str(), 0644);
    EXPECT_EQ(process.create(TBString::fromBytes(dir / "plain.sh")), TB_ACCESS_DENIED);
    EXPECT_EQ(process.create(L"sh -c 'exit 0"), TB_INVALID_PARAMETER);
}

TEST_F(TBProcessTest, StandardInputIsAtEndOfFile) {
    // The caller's own standard input is a pipe nobody writes to: a script
    // that inherited it would wait for ever.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int savedInput = dup(STDIN_FILENO);
    dup2(pipeEnds[0], STDIN_FILENO);
    const uint32_t result = run(L"sh -c 'read x; exit 3'", 3000);
    dup2(savedInput, STDIN_FILENO);
    for (const int fd : {savedInput, pipeEnds[0], pipeEnds[1]}) close(fd);
    EXPECT_EQ(result, TB_OK);
    EXPECT_EQ(process.getExitCode(), 3);
}

TEST_F(TBProcessTest, TimeOutEndsTheWholeGroupKillingWhatIgnoresTermAfterTheGracePeriod) {
    const struct {
        const wchar_t* line;
        std::chrono::milliseconds least, most;
    } cases[] = {{L"sh -c 'sleep 30 & sleep 30'", 0ms, 2500ms},
                 {L"sh -c 'trap \"\" TERM; sleep 30'", 3s, 8s},
                 // Only a child left behind ignores SIGTERM.
                 {L"sh -c 'trap \"\" TERM; sleep 30 & trap - TERM; sleep 30'", 3s, 8s}};
    for (const auto& c : cases) {
        const auto start = Clock::now();
        EXPECT_EQ(run(c.line, 200), TBProcess::TB_TIMEOUT);
        EXPECT_GE(Clock::now() - start, c.least);
        EXPECT_LT(Clock::now() - start, c.most);
        // An orphaned background process is reaped by init, in its own time.
        const int group = -process.getProcessId();
        EXPECT_TRUE(within(10s, [group] { return kill(group, 0) != 0 && errno == ESRCH; }));
    }
}

TEST_F(TBProcessTest, DetachedOrDroppedProcessRunsOnAndLeavesNoZombie) {
    ASSERT_EQ(process.create(L"sleep 30"), TB_OK);
    const int pid = process.getProcessId();
    EXPECT_EQ(process.detach(), TB_OK);
    EXPECT_EQ(process.waitUntilStopped(0), TB_INVALID_PARAMETER);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(stateOf(pid), 'S');
    kill(pid, SIGKILL);
    EXPECT_TRUE(within(5s, [pid] { return stateOf(pid) == '\0'; }));
    int dropped = -1;
    const auto start = Clock::now();
    {
        TBProcess shortLived;
        ASSERT_EQ(shortLived.create(L"sleep 0.3"), TB_OK);
        dropped = shortLived.getProcessId();
    }
    EXPECT_LT(Clock::now() - start, 250ms) << "dropping the object does not wait";
    EXPECT_TRUE(within(5s, [dropped] { return stateOf(dropped) == '\0'; }));
}
