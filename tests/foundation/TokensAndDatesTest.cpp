#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/TBTime.h"
#include "foundation/TBTokenizer.h"

using namespace terbin;

namespace {

std::vector<std::wstring> tokens(TBTokenizer& tokenizer, const TBString& text) {
    tokenizer.setString(text);
    std::vector<std::wstring> out;
    while (tokenizer.hasMoreTokens()) out.push_back(tokenizer.nextToken().str());
    return out;
}

}  // namespace

TEST(TBTokenizer, SplitsLinesSkippingOrKeepingEmptyOnesAndStopsAtTheCount) {
    // The wizard's split of a source text: CR and LF, empty lines give nothing.
    TBTokenizer lines(L"\r\n", true, false, 0);
    EXPECT_EQ(tokens(lines, L"\r\n/a\r\n\r\n/b c\n"), (std::vector<std::wstring>{L"/a", L"/b c"}));
    EXPECT_TRUE(tokens(lines, L"\r\n\n").empty());
    EXPECT_EQ(tokens(lines, L"one"), std::vector<std::wstring>{L"one"}) << "starts over";

    TBTokenizer fields(L",", false, false, 0);
    EXPECT_EQ(tokens(fields, L",a,,b,"), (std::vector<std::wstring>{L"", L"a", L"", L"b", L""}));
    TBTokenizer withDelimiters(L",;", false, true, 0);
    EXPECT_EQ(tokens(withDelimiters, L"a,b;"), (std::vector<std::wstring>{L"a", L",", L"b", L";"}));
    TBTokenizer firstTwo(L" ", true, false, 2);
    EXPECT_EQ(tokens(firstTwo, L"run  the rest here"),
              (std::vector<std::wstring>{L"run", L"the rest here"}));
}

TEST(TBDate, CountsDaysAcrossLeapYearsAndFormats) {
    EXPECT_EQ(TBDate(1970, 1, 1).getTime(), 0);
    EXPECT_EQ(TBDate(2000, 3, 1).getTime() - TBDate(2000, 2, 28).getTime(), 2) << "2000 is leap";
    EXPECT_EQ(TBDate(1900, 3, 1).getTime() - TBDate(1900, 2, 28).getTime(), 1) << "1900 is not";
    EXPECT_EQ(TBDate(2026, 12, 7).getTime(), 20794);
    EXPECT_TRUE(TBDate(2025, 12, 31) < TBDate(2026, 1, 1));
    EXPECT_EQ(TBDate(2026, 12, 7).toString("%Y-%m-%d %A, day %j").str(),
              L"2026-12-07 Monday, day 341");
    EXPECT_EQ(TBDate(1969, 12, 31).toString("%a").str(), L"Wed");
    // Today is the local date; read between two dates in case midnight passes.
    TBDate before, after;
    TBLocalTime now;
    before.update();
    now.update();
    after.update();
    const TBString day = now.toString("%Y%m%d");
    EXPECT_TRUE(before.toString("%Y%m%d") == day || after.toString("%Y%m%d") == day);
}
