// The log viewer of `ulvaren ui`: the parts it answers with, walked from the
// newest end back to the start of the oldest rotated file, the snapshot it
// keeps while the log rotates, and what it refuses.
#include "host/web/WebLogView.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
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

struct Answer {
    int status;
    json body;
};

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
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

// Equal texts, or where they first differ (the texts are too long to print).
::testing::AssertionResult sameText(const std::string& shown, const std::string& expected) {
    const auto [at, _] =
        std::mismatch(shown.begin(), shown.end(), expected.begin(), expected.end());
    if (shown.size() == expected.size() && at == shown.end())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << shown.size() << " bytes shown for " << expected.size()
                                         << ", first different at " << (at - shown.begin());
}

class WebLogViewTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string log = dir / "backup-Docs.log";
    WebLogView view;

    // Writes the log (the newest first, then NAME.1, NAME.2) and returns the
    // files joined oldest first.
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

    Answer post(const json& request) {
        const WebReply reply = view.handle(request.dump());
        return {reply.status, json::parse(reply.body)};
    }

    // Every part from the newest end back to the start, each checked against
    // the promises a part keeps, joined.
    std::string walkBack(const std::string& bytes) {
        const json shown = view.describe();
        EXPECT_EQ(shown["size"], bytes.size());
        json request{{"serial", shown["serial"]}};
        int64_t before = static_cast<int64_t>(bytes.size());
        std::string joined;
        for (int parts = 0; parts < 100; ++parts) {
            const Answer answer = post(request);
            EXPECT_EQ(answer.status, 200) << answer.body;
            if (answer.status != 200)
                break;
            const int64_t start = answer.body["start"];
            const int64_t end = answer.body["end"];
            EXPECT_EQ(end, before);
            EXPECT_LE(end - start, Part);
            EXPECT_EQ(answer.body["first"], start == 0);
            // The part could not have begun at an earlier line, and it begins
            // inside a line only when that line alone fills it.
            for (int64_t at = std::max<int64_t>(1, end - Part); at < start; ++at)
                EXPECT_NE(bytes[static_cast<size_t>(at - 1)], '\n') << "a line begins at " << at;
            EXPECT_TRUE(start == 0 || bytes[static_cast<size_t>(start - 1)] == '\n' ||
                        end - start > Part - 4)
                << "a part cut into a line at " << start;
            joined.insert(0, answer.body["text"].get<std::string>());
            if (start == 0 || start >= end)
                return joined;
            before = start;
            request["before"] = start;
        }
        ADD_FAILURE() << "the parts never reached the start of the log";
        return joined;
    }
};

// The text must come back byte for byte: a character cut in two would show
// as U+FFFD and differ.
TEST_F(WebLogViewTest, PartsWalkBackThroughTheRotatedFilesToExactlyTheirText) {
    struct Case {
        const char* name;
        std::vector<std::string> newestFirst;
    };
    const std::string longLine(150000, 'x');
    const Case cases[] = {
        {"current and two rotated", {logLines(3000, 500), logLines(1000, 2000), logLines(0, 1000)}},
        {"a line longer than a part", {"short\n" + longLine + "\ntail\n"}},
        {"characters across the cut",
         {repeated("€", 30000) + "!\n" + repeated("😀", 20000) + "\n" + repeated("ä", 40000)}},
        {"empty", {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = writeLog(c.newestFirst);
        open(log);
        ASSERT_EQ(theBaseApp.lastRefusal, TBString());
        EXPECT_EQ(view.describe()["title"], "backup-Docs.log");
        EXPECT_TRUE(sameText(walkBack(bytes), bytes));
    }
}

TEST_F(WebLogViewTest, OffsetInsideACharacterEndsThePartBeforeIt) {
    writeLog({"ab" + repeated("😀", 10)});
    open(log);
    const json serial = view.describe()["serial"];
    for (const int inside : {3, 4, 5}) {
        const Answer answer = post({{"serial", serial}, {"before", inside}});
        EXPECT_EQ(answer.body["end"], 2) << inside;
        EXPECT_EQ(answer.body["text"], "ab") << inside;
    }
}

TEST_F(WebLogViewTest, BytesThatAreNotUtf8AreShownAsReplacementCharacters) {
    writeLog({"ok \xff\xfe line\nhalf \xe2\x82\n"});
    open(log);
    const Answer answer = post({{"serial", view.describe()["serial"]}});
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body["text"], "ok \uFFFD\uFFFD line\nhalf \uFFFD\n");
    EXPECT_EQ(answer.body["end"], 19);
}

TEST_F(WebLogViewTest, ShowsTheLogAsItWasWhenOpenedWhileItRotatesAndVanishes) {
    const std::string before = writeLog({logLines(200, 300), logLines(100, 100), logLines(0, 100)});
    open(log);
    const json shown = view.describe();

    rotate("new\n");
    EXPECT_TRUE(sameText(walkBack(before), before));
    for (const std::string& name : {log, log + ".1", log + ".2"}) std::remove(name.c_str());
    EXPECT_TRUE(sameText(walkBack(before), before));
    EXPECT_EQ(view.describe(), shown);

    // Opened again, it shows what is there now.
    writeLog({"new\n"});
    open(log);
    EXPECT_EQ(view.describe()["serial"], shown["serial"].get<int>() + 1);
    EXPECT_TRUE(sameText(walkBack("new\n"), "new\n"));

    // A file cut short under the viewer is reported, never shown as other text.
    ASSERT_EQ(::truncate(log.c_str(), 1), 0);
    const Answer answer = post({{"serial", view.describe()["serial"]}});
    EXPECT_EQ(answer.status, 500);
    EXPECT_NE(answer.body["message"].get<std::string>().find("backup-Docs.log"), std::string::npos);
}

// A rotation between opening NAME.2 and NAME.1 would show the old NAME.log
// twice (as NAME.1 and as NAME.log) and lose the old NAME.1.
TEST_F(WebLogViewTest, RotationWhileOpeningIsNotShownHalfDone) {
    const std::string oldest = logLines(0, 100);
    const std::string middle = logLines(100, 100);
    const std::string newest = logLines(200, 100);
    writeLog({newest, middle, oldest});
    FaultySystem system;
    system.on(FaultySystem::Open, ".log.1", [&](int calls) {
        if (calls == 0)
            rotate("rotated\n");
        return FaultySystem::Outcome();
    });
    open(log);
    const std::string afterRotation = middle + newest + "rotated\n";
    EXPECT_TRUE(sameText(walkBack(afterRotation), afterRotation));
}

TEST_F(WebLogViewTest, RefusesStaleSerialsMalformedRequestsAndUnnamedLogs) {
    writeFile(dir / "first.log", "one\n");
    writeLog({"two\n"});
    open(dir / "first.log");
    const int stale = view.describe()["serial"];
    open(log);
    const int serial = view.describe()["serial"];
    ASSERT_NE(serial, stale);

    struct Case {
        std::string body;
        int status;
    };
    const auto request = [](json body) { return body.dump(); };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        const WebReply reply = view.handle(c.body);
        EXPECT_EQ(reply.status, c.status) << c.body << " -> " << reply.body;
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

    EXPECT_EQ(post({{"serial", serial}, {"close", true}}).status, 200);
    EXPECT_TRUE(view.describe().is_null());
    EXPECT_EQ(post({{"serial", serial}}).status, 409);
}

}  // namespace
