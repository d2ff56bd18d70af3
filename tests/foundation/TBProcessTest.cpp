#include "foundation/TBProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "foundation/TBResult.h"
#include "support/Eventually.h"

using namespace terbin;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Words = std::vector<std::string>;

TEST(CommandLineSplitting, FollowsShellQuotingWithoutExpansion) {
    const std::pair<const wchar_t*, Words> cases[] = {
        {L"  a  b\tc ", {"a", "b", "c"}},
        {L"echo $HOME *.txt >out", {"echo", "$HOME", "*.txt", ">out"}},
        {L"\"/opt/my scripts/pre.sh\" 'a\\b \"c\"'", {"/opt/my scripts/pre.sh", "a\\b \"c\""}},
        {L"a\\ b \"\\\" \\$\" pre\"fix \"'' \"\"", {"a b", "\" $", "prefix ", ""}},
    };
    for (const auto& [line, expected] : cases) {
        Words words{"left from before"};
        EXPECT_TRUE(TBProcess::splitCommandLine(line, words)) << TBString(line).narrow();
        EXPECT_EQ(words, expected) << TBString(line).narrow();
    }
    Words words;
    for (const wchar_t* line : {L"\"abc", L"'abc", L"ok 'x"})
        EXPECT_FALSE(TBProcess::splitCommandLine(line, words)) << TBString(line).narrow();
}

class TBProcessTest : public ::testing::Test {
protected:
    uint32_t run(const TBString& line, uint64_t timeoutMs = 10000) {
        EXPECT_EQ(process.create(line), TB_OK) << line.narrow();
        return process.waitUntilStopped(timeoutMs);
    }

    TBProcess process;
};

TEST_F(TBProcessTest, ExitCodeIsTheProgramsOr128PlusTheSignalAndStartFailuresHaveTheirCodes) {
    EXPECT_EQ(run(L"sh -c 'exit 2'"), TB_OK);
    EXPECT_EQ(process.getExitCode(), 2);
    EXPECT_EQ(run(L"sh -c 'kill -USR1 $$'"), TB_OK);
    EXPECT_EQ(process.getExitCode(), 128 + SIGUSR1);
    EXPECT_EQ(process.create(L"/nonexistent/program"), TB_FILE_NOT_FOUND);
    EXPECT_EQ(tb_status_getLastError(), TB_FILE_NOT_FOUND);
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
    // Side by side: each case waits out its own grace period.
    std::vector<std::thread> runs;
    for (const auto& c : cases) {
        runs.emplace_back([&c] {
            const std::string line = TBString(c.line).narrow();
            TBProcess script;
            const auto start = Clock::now();
            ASSERT_EQ(script.create(c.line), TB_OK) << line;
            EXPECT_EQ(script.waitUntilStopped(200), TBProcess::TB_TIMEOUT) << line;
            EXPECT_GE(Clock::now() - start, c.least) << line;
            EXPECT_LT(Clock::now() - start, c.most) << line;
            // An orphaned background process is reaped by init, in its own time.
            const int group = -script.getProcessId();
            EXPECT_TRUE(eventually([group] { return kill(group, 0) != 0 && errno == ESRCH; }))
                << line;
        });
    }
    for (std::thread& worker : runs) worker.join();
}
