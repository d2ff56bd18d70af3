// The log viewer of `ulvaren ui`: the parts it answers with, walked from the
// newest end back to the start of the oldest rotated file, the snapshot it
// keeps while the log rotates, and what it refuses.
#include "host/web/WebLogView.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "base/ULVbase.h"
#include "support/FaultySystem.h"
#include "support/TempDir.h"

using nlohmann::json;
using terbin::TBString;

namespace {

constexpr int64_t Part = WebLogView::MaxChunkBytes;

// `count` log lines starting at number `first`, of varied lengths and with
// characters of two and three bytes.
std::string logLines(int first, int count) {
    std::string lines;
    for (int i = first; i < first + count; ++i) {
        lines += "2026-12-07 03:00:00 INFO Ulvaren: copying /home/ann/Fähre №" + std::to_string(i) +
                 "/" + std::string(static_cast<size_t>(i % 97), 'x') + "\n";
    }
    return lines;
}

std::string repeated(const std::string& text, int times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

class WebLogViewTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string log = dir / "backup-Docs.log";
    WebLogView view;

    // Writes the log (the newest first, then NAME.1, NAME.2), removing those
    // not given, and returns the files joined oldest first.
    std::string writeLog(const std::vector<std::string>& newestFirst) {
        std::string joined;
        for (size_t i = 0; i < 3; ++i) {
            const std::string name = i == 0 ? log : log + "." + std::to_string(i);
            std::remove(name.c_str());
            if (i < newestFirst.size()) {
                writeFile(name, newestFirst[i]);
                joined.insert(0, newestFirst[i]);
            }
        }
        return joined;
    }

    // What the log's writer does when the log is full: NAME.1 replaces
    // NAME.2, NAME.log becomes NAME.1, and a new NAME.log holds `text`.
    void rotate(const std::string& text) {
        ASSERT_EQ(std::rename((log + ".1").c_str(), (log + ".2").c_str()), 0);
        ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
        writeFile(log, text);
    }

    void open(const std::string& path) {
        theBaseApp.lastRefusal = TBString();
        view.open(L"notepad " + TBString::fromBytes(path).quote(L'"', true, 0));
    }

    // The body of the answer to `request`, expecting `status`.
    json post(const json& request, int status = 200) {
        const WebReply reply = view.handle(request.dump());
        EXPECT_EQ(reply.status, status) << request.dump() << " -> " << reply.body;
        return json::parse(reply.body);
    }

    // Whether the parts from the newest end back to the start join to exactly
    // `bytes`; each part is checked against the promises a part keeps.
    ::testing::AssertionResult walksBackTo(const std::string& bytes) {
        const json shown = view.describe();
        EXPECT_EQ(shown["size"], bytes.size());
        json request{{"serial", shown["serial"]}};
        int64_t before = static_cast<int64_t>(bytes.size());
        std::string joined;
        for (int parts = 0; parts < 100; ++parts) {
            const json part = post(request);
            if (!part.contains("text"))
                break;
            const int64_t start = part["start"], end = part["end"];
            EXPECT_EQ(end, before);
            EXPECT_LE(end - start, Part);
            EXPECT_EQ(part["first"], start == 0);
            // The part could not have begun at an earlier line, and it begins
            // inside a line only when that line alone fills it.
            for (int64_t at = std::max<int64_t>(1, end - Part); at < start; ++at)
                EXPECT_NE(bytes[static_cast<size_t>(at - 1)], '\n') << "a line begins at " << at;
            EXPECT_TRUE(start == 0 || bytes[static_cast<size_t>(start - 1)] == '\n' ||
                        end - start > Part - 4)
                << "a part cut into a line at " << start;
            joined.insert(0, part["text"].get<std::string>());
            if (start == 0 || start >= end)
                break;
            request["before"] = before = start;
        }
        // The texts are too long to print: say where they part.
        if (joined == bytes)
            return ::testing::AssertionSuccess();
        const auto at = std::mismatch(joined.begin(), joined.end(), bytes.begin(), bytes.end());
        return ::testing::AssertionFailure()
               << joined.size() << " bytes shown for " << bytes.size() << ", first different at "
               << (at.first - joined.begin());
    }
};

// The text must come back byte for byte: a character cut in two would show
// as U+FFFD and differ.
TEST_F(WebLogViewTest, PartsWalkBackThroughTheRotatedFilesToExactlyTheirText) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"current and two rotated", {logLines(3000, 500), logLines(1000, 2000), logLines(0, 1000)}},
        {"a line longer than a part", {"short\n" + std::string(150000, 'x') + "\ntail\n"}},
        {"characters across the cut",
         {repeated("€", 30000) + "!\n" + repeated("😀", 20000) + "\n" + repeated("ä", 40000)}},
        {"empty", {""}},
    };
    for (const auto& [name, newestFirst] : cases) {
        SCOPED_TRACE(name);
        const std::string bytes = writeLog(newestFirst);
        open(log);
        ASSERT_EQ(theBaseApp.lastRefusal, TBString());
        EXPECT_EQ(view.describe()["title"], "backup-Docs.log");
        EXPECT_TRUE(walksBackTo(bytes));
    }
}

// An offset inside a character ends the part before it; bytes that are not
// UTF-8 are each shown as U+FFFD and still counted as they are.
TEST_F(WebLogViewTest, PartsNeverCutACharacterAndShowOtherBytesAsReplacements) {
    struct Case {
        std::string log;
        int before;  // -1: from the end
        std::string text;
        int end;
    };
    const std::string emoji = "ab" + repeated("😀", 10);
    const Case cases[] = {
        {emoji, 3, "ab", 2},
        {emoji, 4, "ab", 2},
        {emoji, 5, "ab", 2},
        {"ok \xff\xfe line\nhalf \xe2\x82\n", -1, "ok \uFFFD\uFFFD line\nhalf \uFFFD\n", 19},
    };
    for (const Case& c : cases) {
        writeLog({c.log});
        open(log);
        json request{{"serial", view.describe()["serial"]}};
        if (c.before >= 0)
            request["before"] = c.before;
        const json part = post(request);
        EXPECT_EQ(part["text"], c.text) << c.before;
        EXPECT_EQ(part["end"], c.end) << c.before;
    }
}

// Opening the files one by one races with rotation: one between opening
// NAME.2 and NAME.1 would show the old NAME.log twice (as NAME.1 and as
// NAME.log) and lose the old NAME.1. Once open, the log is shown as it was.
TEST_F(WebLogViewTest, ShowsOneWholeSnapshotWhileTheLogRotatesAndVanishes) {
    const std::string middle = logLines(100, 100), newest = logLines(200, 100);
    writeLog({newest, middle, logLines(0, 100)});
    FaultySystem system;
    system.on(FaultySystem::Open, ".log.1", [&](int calls) {
        if (calls == 0)
            rotate("rotated\n");
        return FaultySystem::Outcome();
    });
    open(log);
    const json shown = view.describe();
    const std::string snapshot = middle + newest + "rotated\n";
    EXPECT_TRUE(walksBackTo(snapshot));

    rotate("new\n");
    EXPECT_TRUE(walksBackTo(snapshot));
    writeLog({});
    EXPECT_TRUE(walksBackTo(snapshot));
    EXPECT_EQ(view.describe(), shown);

    // Opened again, it shows what is there now.
    writeLog({"new\n"});
    open(log);
    EXPECT_EQ(view.describe()["serial"], shown["serial"].get<int>() + 1);
    EXPECT_TRUE(walksBackTo("new\n"));

    // A file cut short under the viewer is reported, never shown as other text.
    ASSERT_EQ(::truncate(log.c_str(), 1), 0);
    const json cut = post({{"serial", view.describe()["serial"]}}, 500);
    EXPECT_NE(cut.value("message", "").find("backup-Docs.log"), std::string::npos);
}

TEST_F(WebLogViewTest, RefusesStaleSerialsMalformedRequestsAndUnnamedLogs) {
    writeFile(dir / "first.log", "one\n");
    writeLog({"two\n"});
    open(dir / "first.log");
    const int stale = view.describe()["serial"];
    open(log);
    const int serial = view.describe()["serial"];
    ASSERT_NE(serial, stale);

    const auto request = [](json body) { return body.dump(); };
    const std::pair<std::string, int> cases[] = {
        {"not json", 400},
        {"[]", 400},
        {request({{"before", 0}}), 400},
        {request({{"serial", "1"}}), 400},
        {request({{"serial", serial}, {"before", -1}}), 400},
        {request({{"serial", serial}, {"before", 5}}), 400},
        {request({{"serial", serial}, {"before", 1.5}}), 400},
        {request({{"serial", serial}, {"close", false}}), 400},
        {request({{"serial", stale}}), 409},
        {request({{"serial", stale}, {"close", true}}), 409},
        {request({{"serial", serial}, {"before", 4}}), 200},
    };
    for (const auto& [body, status] : cases) {
        const WebReply reply = view.handle(body);
        EXPECT_EQ(reply.status, status) << body << " -> " << reply.body;
    }

    // Neither a line without a file nor a missing log replaces the one shown.
    for (const TBString& line :
         {TBString(L"notepad"),
          TBString(L"notepad \"") + TBString::fromBytes(dir / "gone.log") + L"\""}) {
        theBaseApp.lastRefusal = TBString();
        view.open(line);
        EXPECT_NE(theBaseApp.lastRefusal, TBString()) << line.narrow();
        EXPECT_EQ(view.describe()["serial"], serial);
    }
    EXPECT_NE(theBaseApp.lastRefusal.narrow().find("gone.log"), std::string::npos);

    post({{"serial", serial}, {"close", true}});
    EXPECT_TRUE(view.describe().is_null());
    post({{"serial", serial}}, 409);
}

}  // namespace
