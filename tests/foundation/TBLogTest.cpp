#include "foundation/TBLog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/FaultySystem.h"
#include "support/TempDir.h"

using namespace terbin;

namespace {

std::string formatted(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = TBLog::format(fmt, args);
    va_end(args);
    return text;
}

// What follows "YYYY-MM-DD HH:MM:SS " in `line`, after checking that the
// stamp is the local time of now.
std::string afterStamp(const std::string& line) {
    struct tm parts {};
    const char* rest = strptime(line.c_str(), "%Y-%m-%d %H:%M:%S ", &parts);
    EXPECT_EQ(rest, line.c_str() + 20) << "no time stamp: " << line;
    parts.tm_isdst = -1;
    EXPECT_LE(std::fabs(std::difftime(std::mktime(&parts), std::time(nullptr))), 5.0) << line;
    return rest == line.c_str() + 20 ? rest : "";
}

// The lines of `path` and its `keep` rotated copies, oldest first and without
// their time stamps, after checking that no file holds more than `limit` bytes.
std::vector<std::string> loggedLines(const std::string& path, int keep = 0,
                                     size_t limit = SIZE_MAX) {
    std::vector<std::string> lines;
    for (int k = keep; k >= 0; --k) {
        const std::string file = k > 0 ? path + "." + std::to_string(k) : path;
        const std::string text = readFile(file);
        EXPECT_LE(text.size(), limit) << file;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(afterStamp(line));
    }
    return lines;
}

class LogFileTest : public ::testing::Test {
protected:
    uint32_t install(const std::string& limits, const std::string& file) {
        return log.setHandler(TBString::fromBytes("file:" + file + ";" + limits));
    }

    TempDir dir;
    const std::string path = dir / "ulvaren.log";
    TBLog log{L"test"};
};

TEST_F(LogFileTest, LineCarriesLocalTimeLevelApplicationAndExactMessage) {
    ASSERT_EQ(install("100000;3", path), 0u);
    log.error("disk %s is %d%% full", "D", 93);
    log.application(L"Ulvaren");
    log.debug("   three\tand a tab");
    log.warning("Ulvaren: named again");
    log.getHandler()->level(TBLog::Error);
    log.warning("dropped by the level mask");
    log.removeAllHandlers();
    log.error("after removal");
    EXPECT_EQ(
        loggedLines(path),
        (std::vector<std::string>{"ERROR disk D is 93% full", "DEBUG Ulvaren:    three\tand a tab",
                                  "WARNING Ulvaren: Ulvaren: named again"}));
    // Only a line with the stamp as written reads back as one.
    EXPECT_FALSE(TBLog::parseLine("2026-12-06T10:15:00 INFO x", "Ulvaren"));
}

TEST_F(LogFileTest, RotationKeepsOldFilesAndNeverPassesTheLimit) {
    // A line "line N" takes 32 bytes for N < 10 and 33 after, so the 40 lines
    // fill files of six lines each and leave four lines in the current one.
    constexpr size_t limit = 198;
    for (const int keep : {0, 2}) {
        const std::string file = dir / ("keep" + std::to_string(keep) + ".log");
        ASSERT_EQ(install(std::to_string(limit) + ";" + std::to_string(keep), file), 0u);
        for (int i = 0; i < 40; ++i) log.info("line %d", i);
        const auto lines = loggedLines(file, keep, limit);
        EXPECT_FALSE(std::filesystem::exists(file + "." + std::to_string(keep + 1)));
        ASSERT_EQ(lines.size(), static_cast<size_t>(6 * keep + 4)) << keep;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i], "INFO line " + std::to_string(40 - lines.size() + i)) << keep;
    }
}

TEST_F(LogFileTest, FailedWriteLeavesErrnoAloneAndLaterLinesArrive) {
    ASSERT_EQ(install("100000;3", path), 0u);
    {
        FaultySystem diskFull;
        diskFull.fail(FaultySystem::Write, "", ENOSPC);
        errno = EXDEV;
        log.error("lost");
        EXPECT_EQ(errno, EXDEV);
    }
    log.info("after");
    EXPECT_EQ(loggedLines(path), std::vector<std::string>{"INFO after"});
}

TEST_F(LogFileTest, LinesFromManyThreadsStayWholeAndInOrderAcrossRotations) {
    ASSERT_EQ(install("4000;50", path), 0u);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([this, t] {
                for (int i = 0; i < 100; ++i) log.info("thread %d line %d", t, i);
            });
        }
    }
    EXPECT_TRUE(std::filesystem::exists(path + ".3"));
    const auto lines = loggedLines(path, 50, 4000);
    ASSERT_EQ(lines.size(), 400u);
    std::vector<int> next(4, 0);
    for (const auto& line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "INFO thread %d line %d", &t, &i), 2) << line;
        EXPECT_EQ(i, next.at(static_cast<size_t>(t))++);
    }
}

TEST_F(LogFileTest, NamesWithLineBreaksAndControlsStayOnTheirOneLineAndRunTimeTextIsNoFormat) {
    ASSERT_EQ(install("100000;3", path), 0u);
    log.application(L"Ulvaren");
    // A file name that forges a line of its own, then a tab, a terminal
    // command, an invalid byte, a backslash and valid accented and CJK text.
    const auto named = [](const std::string& lf, const std::string& tab, const std::string& rest) {
        return "/src/x" + lf +
               "2026-12-06 10:00:00 INFO Ulvaren: backup set Docs ended - Complete" + tab + "q" +
               rest + " caf\xc3\xa9 \xe6\x97\xa5";
    };
    const std::string name = named("\n", "\t", "\x1b[2J\xff\\b");
    const std::string shown = named("\\n", "\\t", "\\x1b[2J\\xff\\\\b");
    log.error("Can't open %s for reading - error=%d", name.c_str(), 13);
    // The same name as wide text keeps its invalid byte and shows it the same way.
    log.info(" copy folder %ls", TBString::fromBytes(name).c_str());
    // Text chosen at run time is escaped whole; a line break in the program's
    // own format still cannot end the record.
    log.warning(("50%% of " + name).c_str());
    log.debug("one\ntwo\r");
    // Asking for arguments that were never given: written as it stands.
    log.error(std::string("%s and %*d").c_str());
    EXPECT_EQ(loggedLines(path),
              (std::vector<std::string>{
                  "ERROR Ulvaren: Can't open " + shown + " for reading - error=13",
                  "INFO Ulvaren:  copy folder " + shown, "WARNING Ulvaren: 50% of " + shown,
                  "DEBUG Ulvaren: one\\ntwo\\r", "ERROR Ulvaren: %s and %*d"}));
}

TEST(LogFormatTest, ByteCountsReadForPeopleAndWidthsPadTheEscapedText) {
    const std::pair<long long, const char*> cases[] = {
        {1023, "1023 bytes"},   {1024, "1.0 KB"},    {1536, "1.5 KB"},      {24536678, "23.4 MB"},
        {1288490189, "1.2 GB"}, {1048575, "1.0 MB"}, {INT64_MIN, "-8.0 EB"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(formatted("%llk", value), text) << value;
    EXPECT_EQ(formatted("[%8llk] %d %s", 1536LL, 7, "x"), "[  1.5 KB] 7 x");
    // The width pads the escaped text; the precision cuts the text as given.
    EXPECT_EQ(formatted("[%-6s|%5.2s|%c%c]", "a\tb", "\n\nxyz", 'q', '\x1b'),
              "[a\\tb  | \\n\\n|q\\x1b]");
}

}  // namespace
