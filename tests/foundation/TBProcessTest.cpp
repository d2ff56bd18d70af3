#include "foundation/TBProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/TBResult.h"
#include "support/Eventually.h"
#include "support/ScriptGate.h"
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

TEST_F(TBProcessTest, DetachedOrDroppedProcessRunsOnAndLeavesNoZombie) {
    ASSERT_EQ(process.create(L"sleep 30"), TB_OK);
    const int pid = process.getProcessId();
    EXPECT_EQ(process.detach(), TB_OK);
    EXPECT_EQ(process.waitUntilStopped(0), TB_INVALID_PARAMETER);
    EXPECT_TRUE(eventually([pid] { return stateOf(pid) == 'S'; })) << "it runs on, asleep";
    kill(pid, SIGKILL);
    EXPECT_TRUE(eventually([pid] { return stateOf(pid) == '\0'; }));

    // Dropped while its program waits at the gate: the drop does not wait for it.
    ScriptGate gate(dir / "gate");
    std::atomic<int> dropped{-1};
    std::atomic<bool> droppedObject{false};
    std::thread owner([&] {
        {
            TBProcess held;
            if (held.create(TBString::fromBytes("sh -c '" + gate.shellCommand() + "'")) == TB_OK) {
                dropped = held.getProcessId();
                gate.waitUntilReached();
            }
        }
        droppedObject = true;
    });
    const bool returned = eventually([&] { return droppedObject.load(); });
    const char stateAfterDrop = stateOf(dropped);
    gate.open();
    owner.join();
    ASSERT_GT(dropped, 0);
    EXPECT_TRUE(returned) << "dropping the object does not wait";
    EXPECT_TRUE(stateAfterDrop != '\0' && stateAfterDrop != 'Z')
        << "the program still runs, waiting at the gate; state " << stateAfterDrop;
    EXPECT_TRUE(eventually([&] { return stateOf(dropped) == '\0'; })) << "reaped, no zombie";
}
