#include "foundation/TBLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <thread>
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

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Checks format() against the C library's printf on the same arguments.
template <typename... Args>
void expectLikePrintf(char (&expected)[256], const char* fmt, Args... args) {
    std::snprintf(expected, sizeof expected, fmt, args...);
    EXPECT_EQ(formatted(fmt, args...), expected) << fmt;
}

std::vector<std::string> linesOf(const std::string& path) {
    std::istringstream in(readFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// What follows "YYYY-MM-DD HH:MM:SS " in `line`, after checking that the
// stamp is the local time of now.
std::string afterStamp(const std::string& line) {
    struct tm parts {};
    const char* rest = strptime(line.c_str(), "%Y-%m-%d %H:%M:%S ", &parts);
    if (rest == nullptr || rest - line.c_str() != 20) {
        ADD_FAILURE() << "no time stamp: " << line;
        return "";
    }
    parts.tm_isdst = -1;
    EXPECT_LE(std::fabs(std::difftime(std::mktime(&parts), std::time(nullptr))), 5.0) << line;
    return rest;
}

// Counts the writes reaching the system and fails them on demand.
class WriteWatcher : public SystemInterfaceWrapper {
  public:
    WriteWatcher() : SystemInterfaceWrapper(tb_realSystem()) { tb_setSystem(this); }
    ~WriteWatcher() override { tb_setSystem(nullptr); }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        writes.emplace_back(static_cast<const char*>(buffer), count);
        if (failWith != 0) {
            errno = failWith;
            return -1;
        }
        return target_.write(fd, buffer, count);
    }
    std::vector<std::string> writes;
    int failWith = 0;
};

class LogFileTest : public ::testing::Test {
  protected:
    std::string path() const { return dir / "ulvaren.log"; }
    uint32_t install(const std::string& limits) {
        return log.setHandler(TBString::fromBytes("file:" + path() + ";" + limits));
    }

    TempDir dir;
    TBLog log{L"test"};
};

TEST_F(LogFileTest, LineCarriesLocalTimeLevelApplicationAndExactMessage) {
    ASSERT_EQ(install("100000;3"), 0u);
    log.error("disk %s is %d%% full", "D", 93);
    log.warning("w");
    log.info("  two spaces");
    log.application(L"Ulvaren");
    log.debug("   three");
    const auto lines = linesOf(path());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(afterStamp(lines[0]), "ERROR disk D is 93% full");
    EXPECT_EQ(afterStamp(lines[1]), "WARNING w");
    EXPECT_EQ(afterStamp(lines[2]), "INFO   two spaces");
    EXPECT_EQ(afterStamp(lines[3]), "DEBUG Ulvaren:    three");
}

TEST_F(LogFileTest, HandlerTakesOnlyItsLevelsAndRemovedHandlersWriteNothing) {
    ASSERT_EQ(install("100000;3"), 0u);
    log.getHandler()->level(TBLog::Error | TBLog::Warning);
    log.info("dropped");
    log.error("kept");
    log.removeAllHandlers();
    EXPECT_EQ(log.getHandler(), nullptr);
    log.error("after removal");
    const auto lines = linesOf(path());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(afterStamp(lines[0]), "ERROR kept");
}

TEST_F(LogFileTest, RefusedHandlerTextsInstallNothing) {
    for (const std::string& bad : std::vector<std::string>{
             "", "stream:" + path() + ";10;1", "file:" + path() + ";10", "file:" + path() + ";-1;1",
             "file:" + path() + ";10;x", "file:" + path() + ";;1", "file:;10;1"}) {
        EXPECT_EQ(log.setHandler(TBString::fromBytes(bad)), 87u) << bad;
    }
    EXPECT_EQ(log.setHandler(TBString::fromBytes("file:" + (dir / "missing/x.log") + ";10;1")), 2u);
    EXPECT_EQ(log.getHandler(), nullptr);
}

TEST_F(LogFileTest, PathMayHoldSemicolonsAndFileIsPrivate) {
    const std::string file = dir / "a;b.log";
    ASSERT_EQ(log.setHandler(TBString::fromBytes("file:" + file + ";1000;1")), 0u);
    log.info("x");
    EXPECT_EQ(linesOf(file).size(), 1u);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LogFileTest, RotationKeepsOldFilesAndNeverPassesTheLimit) {
    constexpr size_t limit = 198;  // six lines "line 10" to "line 39" exactly
    ASSERT_EQ(install(std::to_string(limit) + ";2"), 0u);
    for (int i = 0; i < 40; ++i) {
        log.info("line %d", i);
    }
    const std::vector<std::string> files = {path() + ".2", path() + ".1", path()};
    std::vector<std::string> all;
    for (size_t f = 0; f < files.size(); ++f) {
        const std::string text = readFile(files[f]);
        EXPECT_LE(text.size(), limit) << files[f];
        if (f + 1 < files.size()) {
            // Rotated only when the next line no longer fitted.
            EXPECT_GT(text.size() + linesOf(files[f + 1]).at(0).size() + 1, limit) << files[f];
        }
        for (const auto& line : linesOf(files[f])) {
            all.push_back(afterStamp(line));
        }
    }
    EXPECT_FALSE(exists(path() + ".3"));
    ASSERT_GT(all.size(), 12u);  // two full old files and the current one
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], "INFO line " + std::to_string(40 - all.size() + i));
    }
}

TEST_F(LogFileTest, KeepZeroStartsTheFileAgain) {
    ASSERT_EQ(install("100;0"), 0u);
    for (int i = 0; i < 10; ++i) {
        log.info("entry %d", i);
    }
    EXPECT_LE(readFile(path()).size(), 100u);
    EXPECT_FALSE(exists(path() + ".1"));
    const auto lines = linesOf(path());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(afterStamp(lines.back()), "INFO entry 9");
}

TEST_F(LogFileTest, OneWritePerLineAndFailedWritesLeaveErrnoAlone) {
    ASSERT_EQ(install("100000;3"), 0u);
    WriteWatcher watcher;
    log.info("first");
    log.info("second");
    ASSERT_EQ(watcher.writes.size(), 2u);
    EXPECT_EQ(watcher.writes[1].substr(19), " INFO second\n");
    watcher.failWith = ENOSPC;
    errno = EXDEV;
    log.error("lost");
    EXPECT_EQ(errno, EXDEV);
    watcher.failWith = 0;
    log.info("third");
    EXPECT_EQ(linesOf(path()).size(), 3u);
}

TEST_F(LogFileTest, LinesFromManyThreadsStayWholeAndInOrderAcrossRotations) {
    ASSERT_EQ(install("4000;50"), 0u);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([this, t] {
                for (int i = 0; i < 100; ++i) {
                    log.info("thread %d line %d", t, i);
                }
            });
        }
    }
    std::vector<std::string> lines;
    for (int k = 50; k >= 0; --k) {
        const auto part = linesOf(k > 0 ? path() + "." + std::to_string(k) : path());
        lines.insert(lines.end(), part.begin(), part.end());
    }
    ASSERT_EQ(lines.size(), 400u);
    std::vector<int> next(4, 0);
    for (const auto& line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(afterStamp(line).c_str(), "INFO thread %d line %d", &t, &i), 2);
        EXPECT_EQ(i, next.at(static_cast<size_t>(t))++);
    }
    EXPECT_TRUE(exists(path() + ".3"));
}

TEST(LogFormatTest, ByteCountsReadForPeople) {
    const std::pair<long long, const char*> cases[] = {
        {0, "0 bytes"},      {512, "512 bytes"},    {1023, "1023 bytes"},   {1024, "1.0 KB"},
        {1536, "1.5 KB"},    {24536678, "23.4 MB"}, {1288490189, "1.2 GB"}, {3LL << 40, "3.0 TB"},
        {1048575, "1.0 MB"}, {-1536, "-1.5 KB"},    {INT64_MIN, "-8.0 EB"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(formatted("%llk", value), text) << value;
    }
    EXPECT_EQ(formatted("[%8llk] %d %s", 1536LL, 7, "x"), "[  1.5 KB] 7 x");
}

TEST(LogFormatTest, StandardConversionsMatchPrintf) {
    char buffer[256];
    expectLikePrintf(buffer, "%s|%d|%u|%x|%X|%lld|%llu|%%|%5d|%-4s|%05.1f|%+i|%#o|%hhd|%.3s|%c|%zu",
                     "a", -4, 4000000000u, 255u, 255u, -9000000000LL, 1ULL << 63, 42, "ab", 3.14159,
                     5, 8, 300, "abcdef", 'Z', size_t{77});
    expectLikePrintf(buffer, "%e|%*d|%-*d|%.*s|%Lg|%p", 1e-5, 6, 9, 3, 1, 2, "xyz", 2.5L,
                     static_cast<void*>(buffer));
}

TEST(LogFormatTest, TextPassesThroughAsBytes) {
    EXPECT_EQ(formatted("<%s>", "\xff\xfe ok \xc3"), "<\xff\xfe ok \xc3>");
    EXPECT_EQ(formatted("%ls %lc", L"Gr\u00fc\u00dfe", static_cast<wint_t>(L'\u00e9')),
              "Gr\xc3\xbc\xc3\x9f"
              "e \xc3\xa9");
    EXPECT_EQ(formatted("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(formatted("50%y done %d, 100%", 3), "50%y done 3, 100%");
}

}  // namespace
