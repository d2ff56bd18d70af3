#include "foundation/TBProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
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

Words split(const wchar_t* line) {
    Words words{"left from before"};
    EXPECT_TRUE(TBProcess::splitCommandLine(line, words)) << TBString(line).narrow();
    return words;
}

// The state letter of /proc/<pid>/stat; '\0' when there is no such process.
char stateOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return std::getline(stat, line) ? line.at(line.rfind(')') + 2) : '\0';
}

bool noSuchProcess(int pidOrGroup) {
    return kill(pidOrGroup, 0) != 0 && errno == ESRCH;
}

template <typename Condition>
bool within(std::chrono::milliseconds limit, Condition condition) {
    for (const auto end = Clock::now() + limit; !condition(); std::this_thread::sleep_for(10ms)) {
        if (Clock::now() >= end) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(CommandLineSplitting, BlanksSeparateWordsAndShellOperatorsStayLiteral) {
    EXPECT_EQ(split(L"  a  b\tc\nd "), (Words{"a", "b", "c", "d"}));
    EXPECT_EQ(split(L" \t "), Words{});
    EXPECT_EQ(split(L"echo $HOME *.txt >out | x; #c"),
              (Words{"echo", "$HOME", "*.txt", ">out", "|", "x;", "#c"}));
}

TEST(CommandLineSplitting, QuotesKeepBlanksInsideOneWord) {
    EXPECT_EQ(split(L"\"/opt/my scripts/pre backup.sh\" 'a\\b \"c\"  $d'"),
              (Words{"/opt/my scripts/pre backup.sh", "a\\b \"c\"  $d"}));
}

TEST(CommandLineSplitting, BackslashInDoubleQuotesEscapesOnlyFiveCharacters) {
    EXPECT_EQ(split(L"\"\\\" \\\\ \\$ \\` \\n \\'\""), Words{"\" \\ $ ` \\n \\'"});
    EXPECT_EQ(split(L"\"a\\\nb\""), Words{"ab"});
}

TEST(CommandLineSplitting, BackslashOutsideQuotesMakesTheNextCharacterLiteral) {
    EXPECT_EQ(split(L"a\\ b c\\'d \\\"e x\\\ny end\\"),
              (Words{"a b", "c'd", "\"e", "xy", "end\\"}));
}

TEST(CommandLineSplitting, AdjacentPiecesJoinAndEmptyQuotesMakeEmptyWords) {
    EXPECT_EQ(split(L"pre\"fix \"'mid 'end \"\" ''"), (Words{"prefix mid end", "", ""}));
}

TEST(CommandLineSplitting, NonAsciiTextGivesUtf8Bytes) {
    EXPECT_EQ(split(L"\"/tmp/Gr\u00fc\u00df/s\u00e9 1\""),
              Words{"/tmp/Gr\xc3\xbc\xc3\x9f/s\xc3\xa9 1"});
}

TEST(CommandLineSplitting, UnterminatedQuoteFails) {
    Words words;
    for (const wchar_t* line : {L"\"abc", L"'abc", L"\"a\\\"", L"\"\\", L"ok 'x"}) {
        EXPECT_FALSE(TBProcess::splitCommandLine(line, words)) << TBString(line).narrow();
    }
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
    EXPECT_EQ(process.getExitCode(), -1);
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
    for (const wchar_t* invalid : {L"sh -c 'exit 0", L"  ", L"'' arg"}) {
        EXPECT_EQ(process.create(invalid), TB_INVALID_PARAMETER) << TBString(invalid).narrow();
    }
    EXPECT_EQ(process.waitUntilStopped(0), TB_INVALID_PARAMETER);
    EXPECT_EQ(process.detach(), TB_INVALID_PARAMETER);
}

TEST_F(TBProcessTest, HeldProcessMustBeWaitedForBeforeTheNextStarts) {
    ASSERT_EQ(process.create(L"sh -c 'exit 4'"), TB_OK);
    EXPECT_EQ(process.create(L"true"), TB_INVALID_PARAMETER);
    EXPECT_EQ(process.waitUntilStopped(10000), TB_OK);
    EXPECT_EQ(process.waitUntilStopped(0), TB_OK);
    EXPECT_EQ(process.getExitCode(), 4);
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
    for (const int fd : {savedInput, pipeEnds[0], pipeEnds[1]}) {
        close(fd);
    }
    EXPECT_EQ(result, TB_OK);
    EXPECT_EQ(process.getExitCode(), 3);
}

TEST_F(TBProcessTest, TimeOutEndsTheScriptAndEveryProcessOfItsGroup) {
    const auto start = Clock::now();
    EXPECT_EQ(run(L"sh -c 'sleep 30 & sleep 30'", 200), TBProcess::TB_TIMEOUT);
    EXPECT_LT(Clock::now() - start, 2500ms);
    const int pid = process.getProcessId();
    EXPECT_TRUE(noSuchProcess(pid));
    // The orphaned background sleep is reaped by init, in its own time.
    EXPECT_TRUE(within(10s, [pid] { return noSuchProcess(-pid); }));
}

TEST_F(TBProcessTest, WhateverIgnoresTermIsKilledAfterTheGracePeriod) {
    // First the script itself ignores SIGTERM, then only a child it left behind.
    for (const wchar_t* line : {L"sh -c 'trap \"\" TERM; sleep 30'",
                                L"sh -c 'trap \"\" TERM; sleep 30 & trap - TERM; sleep 30'"}) {
        const auto start = Clock::now();
        EXPECT_EQ(run(line, 200), TBProcess::TB_TIMEOUT);
        EXPECT_GE(Clock::now() - start, 3s);
        EXPECT_LT(Clock::now() - start, 8s);
        EXPECT_TRUE(within(10s, [this] { return noSuchProcess(-process.getProcessId()); }));
    }
}

TEST_F(TBProcessTest, ScriptIsKillableThoughTheCallerBlocksAndIgnoresTerm) {
    sigset_t term;
    sigset_t oldMask;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &oldMask);
    const auto oldHandler = std::signal(SIGTERM, SIG_IGN);
    const uint32_t started = process.create(L"sleep 30");
    std::signal(SIGTERM, oldHandler);
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ASSERT_EQ(started, TB_OK);
    EXPECT_EQ(process.waitUntilStopped(200), TBProcess::TB_TIMEOUT);
    EXPECT_EQ(process.getExitCode(), 128 + SIGTERM);
}

TEST_F(TBProcessTest, DetachedProcessRunsOnAndIsReapedWhenItEnds) {
    ASSERT_EQ(process.create(L"sleep 30"), TB_OK);
    const int pid = process.getProcessId();
    EXPECT_EQ(process.detach(), TB_OK);
    EXPECT_EQ(process.waitUntilStopped(0), TB_INVALID_PARAMETER);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(stateOf(pid), 'S');
    kill(pid, SIGKILL);
    EXPECT_TRUE(within(5s, [pid] { return stateOf(pid) == '\0'; }));
}

TEST_F(TBProcessTest, DestroyingTheObjectNeitherBlocksNorLeavesAZombie) {
    int pid = -1;
    const auto start = Clock::now();
    {
        TBProcess shortLived;
        ASSERT_EQ(shortLived.create(L"sleep 0.3"), TB_OK);
        pid = shortLived.getProcessId();
    }
    EXPECT_LT(Clock::now() - start, 250ms);
    EXPECT_TRUE(within(5s, [pid] { return stateOf(pid) == '\0'; }));
}

TEST_F(TBProcessTest, ObjectsOnDifferentThreadsRunIndependently) {
    std::vector<int> codes(4, -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < codes.size(); ++i) {
        threads.emplace_back([&codes, i] {
            TBProcess own;
            own.create(L"sh -c 'exit " + TBString::valueOf(static_cast<int64_t>(10 + i)) + L"'");
            own.waitUntilStopped(10000);
            codes[i] = own.getExitCode();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(codes, (std::vector<int>{10, 11, 12, 13}));
}
