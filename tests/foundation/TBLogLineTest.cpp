// Reading back the lines that TBLog writes.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/TBLog.h"
#include "support/TempDir.h"

using terbin::TBLog;
using terbin::TBString;

namespace {

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(TBLogLineTest, ParsesEveryLevelWithAndWithoutTheApplicationName) {
    TempDir dir;
    const std::string path = dir / "app.log";
    TBLog log;
    ASSERT_EQ(log.setHandler(TBString::fromBytes("file:" + path + ";0;0")), 0u);
    log.info("before the name");
    log.application(L"Ulvaren");
    log.error("Can't open %s", "a b");
    log.warning("  two blanks");
    log.info("    four\tand a tab");
    log.debug("Ulvaren: the name again");
    log.info("%s", "");

    const std::vector<std::string> lines = linesOf(path);
    ASSERT_EQ(lines.size(), 6u);
    struct Expected {
        const char* level;
        const char* message;
    };
    const Expected expected[] = {
        {"INFO", "before the name"},          {"ERROR", "Can't open a b"},
        {"WARNING", "  two blanks"},          {"INFO", "    four\tand a tab"},
        {"DEBUG", "Ulvaren: the name again"}, {"INFO", ""}};
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto parsed = TBLog::parseLine(lines[i], "Ulvaren");
        ASSERT_TRUE(parsed) << lines[i];
        EXPECT_EQ(parsed->level, expected[i].level) << lines[i];
        EXPECT_EQ(parsed->message, expected[i].message) << lines[i];
        struct tm parts {};
        const char* end = strptime(parsed->time.c_str(), "%Y-%m-%d %H:%M:%S", &parts);
        EXPECT_TRUE(end != nullptr && *end == '\0') << parsed->time;
    }
}

TEST(TBLogLineTest, KeepsAnotherApplicationsNameAndRefusesOtherLayouts) {
    const auto other = TBLog::parseLine("2026-12-06 10:15:00 INFO Other: message", "Ulvaren");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->message, "Other: message");
    const auto unnamed = TBLog::parseLine("2026-12-06 10:15:00 INFO Ulvaren: message", "");
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->message, "Ulvaren: message");
    // The name without its separator is part of the message.
    const auto joined = TBLog::parseLine("2026-12-06 10:15:00 INFO Ulvaren:x", "Ulvaren");
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->message, "Ulvaren:x");
    EXPECT_FALSE(TBLog::parseLine("", "Ulvaren"));
    EXPECT_FALSE(TBLog::parseLine("2026-12-06 10:15:00 INFO", "Ulvaren"));
}

}  // namespace
