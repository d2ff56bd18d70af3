#include "foundation/TBLog.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "foundation/SystemInterface.h"
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

// Fails every write reaching the system, as a full disk would.
class FailingWrites : public SystemInterfaceWrapper {
public:
    FailingWrites() : SystemInterfaceWrapper(tb_realSystem()) { tb_setSystem(this); }
    ~FailingWrites() override { tb_setSystem(nullptr); }
    ssize_t write(int, const void*, size_t) override {
        errno = ENOSPC;
        return -1;
    }
};

class LogFileTest : public ::testing::Test {
protected:
    uint32_t install(const std::string& limits, const std::string& file) {
        return log.setHandler(TBString::fromBytes("file:" + file + ";" + limits));
    }

    TempDir dir;
    const std::string path = dir / "ulvaren.log";
    TBLog log{L"test"};
};

TEST_F(LogFileTest, LineCarriesLocalTimeLevelApplicationAndExactMessageAndReadsBack) {
    ASSERT_EQ(install("100000;3", path), 0u);
    log.error("disk %s is %d%% full", "D", 93);
    log.info("  two spaces");
    log.application(L"Ulvaren");
    log.debug("   three\tand a tab");
    log.warning("Ulvaren: named again");
    log.info("%s", "");
    log.getHandler()->level(TBLog::Error);
    log.warning("dropped by the level mask");
    log.removeAllHandlers();
    log.error("after removal");
    EXPECT_EQ(loggedLines(path), (std::vector<std::string>{
                                     "ERROR disk D is 93% full", "INFO   two spaces",
                                     "DEBUG Ulvaren:    three\tand a tab",
                                     "WARNING Ulvaren: Ulvaren: named again", "INFO Ulvaren: "}));
    // Reading a line back takes off the stamp, the level and one "Ulvaren: ".
    const std::pair<const char*, const char*> parts[] = {{"ERROR", "disk D is 93% full"},
                                                         {"INFO", "  two spaces"},
                                                         {"DEBUG", "   three\tand a tab"},
                                                         {"WARNING", "Ulvaren: named again"},
                                                         {"INFO", ""}};
    std::istringstream in(readFile(path));
    for (const auto& [level, message] : parts) {
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        const auto parsed = TBLog::parseLine(line, "Ulvaren");
        ASSERT_TRUE(parsed) << line;
        EXPECT_EQ(parsed->time + " " + parsed->level + " " + parsed->message,
                  line.substr(0, 20) + level + " " + message);
    }
}

TEST(TBLogLine, OnlyThisApplicationsNameComesOffAndOtherLayoutsAreRefused) {
    const std::string stamp = "2026-12-06 10:15:00 ";
    const std::tuple<std::string, const char*, const char*> cases[] = {
        {"INFO Other: message", "Ulvaren", "Other: message"},
        {"INFO Ulvaren: message", "", "Ulvaren: message"},
        {"INFO Ulvaren:x", "Ulvaren", "Ulvaren:x"}};
    for (const auto& [line, application, message] : cases)
        EXPECT_EQ(TBLog::parseLine(stamp + line, application).value().message, message) << line;
    for (const std::string& line : {std::string(), stamp + "INFO", stamp + "NOTICE x",
                                    std::string("2026-12-06T10:15:00 INFO x")})
        EXPECT_FALSE(TBLog::parseLine(line, "Ulvaren")) << line;
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
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i], "INFO line " + std::to_string(40 - lines.size() + i)) << keep;
        }
    }
}

TEST_F(LogFileTest, FailedWriteLeavesErrnoAloneAndLaterLinesArrive) {
    ASSERT_EQ(install("100000;3", path), 0u);
    {
        FailingWrites diskFull;
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

TEST_F(LogFileTest, TextChosenAtRunTimeIsAFormatWithoutArguments) {
    ASSERT_EQ(install("100000;3", path), 0u);
    const std::string done = "100%% done";
    log.info(done.c_str());
    // Asking for arguments that were never given: written as it stands.
    const std::string asks = "%s and %*d";
    log.error(asks.c_str());
    char unknown[] = "50%% %y";
    log.warning(unknown);
    EXPECT_EQ(loggedLines(path),
              (std::vector<std::string>{"INFO 100% done", "ERROR %s and %*d", "WARNING 50% %y"}));
}

// The check that TBLog's operations run on their formats while the program
// is compiled, evaluated here at run time to see its verdicts.
template <typename... Args>
logformat::Problem problemOf(const char* format) {
    const std::array<logformat::Argument, sizeof...(Args)> arguments{
        logformat::describe<Args>()...};
    return logformat::check(format, arguments.data(), arguments.size());
}

TEST(LogFormatCheckTest, ArgumentsMustFitTheirConversions) {
    using enum logformat::Problem;
    EXPECT_EQ((problemOf<int, long long>("%d file(s) %llk copied")), None);
    EXPECT_EQ((problemOf<int64_t, uint32_t, bool, char>("%8llk %x %d %c")), None);
    EXPECT_EQ((problemOf<size_t, float, long double>("%zu %.1f %Lg")), None);
    EXPECT_EQ((problemOf<const char*, const wchar_t*, wchar_t>("%-4s %ls %lc")), None);
    EXPECT_EQ((problemOf<int, int, int, const char*, void*>("%*d %.*s %p 100%%")), None);
    EXPECT_EQ((problemOf<int>("%llk")), WrongKind);  // half of a 64-bit count
    EXPECT_EQ((problemOf<size_t>("%d")), WrongKind);
    EXPECT_EQ((problemOf<double>("%d")), WrongKind);
    EXPECT_EQ((problemOf<int>("%f")), WrongKind);
    EXPECT_EQ((problemOf<double>("%Lf")), WrongKind);
    EXPECT_EQ((problemOf<int>("%s")), WrongKind);
    EXPECT_EQ((problemOf<const char*>("%ls")), WrongKind);
    EXPECT_EQ((problemOf<int>("%p")), WrongKind);
    EXPECT_EQ((problemOf<size_t, const char*>("%.*s")), WrongKind);
    EXPECT_EQ((problemOf<const std::string*>("%s")), WrongKind);
    EXPECT_EQ((problemOf<>("%d")), TooFewArguments);
    EXPECT_EQ((problemOf<int>("%*s")), TooFewArguments);
    EXPECT_EQ((problemOf<int, int>("%d")), TooManyArguments);
    EXPECT_EQ((problemOf<int>("done")), TooManyArguments);
    EXPECT_EQ((problemOf<>("50%y done")), UnknownConversion);
    EXPECT_EQ((problemOf<>("100%")), UnknownConversion);
    EXPECT_EQ((problemOf<double>("%hf")), UnknownConversion);
    EXPECT_EQ((problemOf<int>("%lhd")), UnknownConversion);
}

TEST(LogFormatTest, ByteCountsReadForPeopleAndOtherConversionsWorkOnRawBytes) {
    const std::pair<long long, const char*> cases[] = {
        {0, "0 bytes"},        {1023, "1023 bytes"},   {1024, "1.0 KB"},      {1536, "1.5 KB"},
        {24536678, "23.4 MB"}, {1288490189, "1.2 GB"}, {3LL << 40, "3.0 TB"}, {1048575, "1.0 MB"},
        {-1536, "-1.5 KB"},    {INT64_MIN, "-8.0 EB"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(formatted("%llk", value), text) << value;
    EXPECT_EQ(formatted("[%8llk] %d %s", 1536LL, 7, "x"), "[  1.5 KB] 7 x");
    EXPECT_EQ(formatted("%5d|%-4s|%.3s|%*d|%05.1f|%u|%lld", 42, "ab", "abcd", 3, 7, 2.5,
                        4000000000u, -9000000000LL),
              "   42|ab  |abc|  7|002.5|4000000000|-9000000000");
    EXPECT_EQ(formatted("<%s>", "\xff\xfe ok \xc3"), "<\xff\xfe ok \xc3>");
    EXPECT_EQ(formatted("%ls", L"Gr\u00fc\u00dfe \u00e9"), "Gr\u00fc\u00dfe \u00e9");
    EXPECT_EQ(formatted("50%y done %d, 100%", 3), "50%y done 3, 100%");
}

}  // namespace
