#include <gtest/gtest.h>
#include <unicode/regex.h>

#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "foundation/TBRegularExpression.h"

using terbin::TBRegularExpression;
using terbin::TBString;

namespace {

// ICU itself, as the literal fast path must reproduce it.
bool icuMatches(const TBString& expression, const TBString& subject, bool ignoreCase,
                bool multiLine) {
    const auto utf16 = [](const TBString& s) {
        return icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(s.c_str()),
                                             s.length());
    };
    const uint32_t flags = UREGEX_DOTALL | (ignoreCase ? UREGEX_CASE_INSENSITIVE : 0) |
                           (multiLine ? UREGEX_MULTILINE : 0);
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::unique_ptr<icu::RegexPattern> pattern(
        icu::RegexPattern::compile(utf16(expression), flags, parseError, status));
    if (U_FAILURE(status))
        return false;
    const icu::UnicodeString input = utf16(subject);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
    return matcher->matches(status) && U_SUCCESS(status);
}

class PlainWildcardMatching : public ::testing::Test {
protected:
    // Returns ICU's answer.
    bool expectSameAsIcu(const TBString& expression, const TBString& subject, bool ignoreCase,
                         bool multiLine) {
        const TBRegularExpression regex(expression, ignoreCase, multiLine);
        const bool expected = icuMatches(expression, subject, ignoreCase, multiLine);
        EXPECT_EQ(regex.matches(subject), expected)
            << TBString(expression).narrow() << " on " << subject.narrow();
        EXPECT_EQ(regex.matches(TBRegularExpression::Subject(subject)), expected);
        return expected;
    }
};

TEST_F(PlainWildcardMatching, AgreesWithIcuOnEdgeCases) {
    const struct {
        const wchar_t* expression;
        const wchar_t* subject;
        bool matches;
    } cases[] = {{L"^.*\\.tmp$", L"a\nb.TMP", true},
                 {L"^.*\\.tmp$", L"a.tmp\n", false},
                 {L"^a.{1}c$", L"a\r\nc", true},
                 {L"^a.{1}.{1}c$", L"a\r\nc", false},
                 {L"^ärger.*$", L"ÄRGER.txt", true},
                 {L"^.*ss$", L"Maß", true},
                 {L"^s.{1}$", L"ß", false},
                 {L"^k$", L"\u212A", true},
                 {L"^\U00010400$", L"\U00010428", true},
                 {L"^a.{1}-$", L"A\xDC80-", true},
                 {L"^\\(x\\)\\+\\\\$", L"(X)+\\", true},
                 {L"", L"", true}};
    for (const auto& c : cases) {
        const TBRegularExpression regex(c.expression, true, false);
        EXPECT_TRUE(regex.isPlainWildcard()) << TBString(c.expression).narrow();
        EXPECT_EQ(icuMatches(c.expression, c.subject, true, false), c.matches);
        expectSameAsIcu(c.expression, c.subject, true, false);
        expectSameAsIcu(c.expression, c.subject, false, true);
    }
}

TEST_F(PlainWildcardMatching, AgreesWithIcuOnGeneratedExpressions) {
    const std::vector<TBString> literals = {L"a",   L"A",          L"s",  L"k",    L"ä",   L"σ",
                                            L"ı",   L"I",          L"/",  L" ",    L"\\.", L"\\+",
                                            L"\\$", L"\U00010400", L".*", L".{1}", L"."};
    const std::vector<TBString> letters = {L"a", L"S", L"ß",  L"ſ",      L"\u212A",    L"K",
                                           L"Ä", L"Σ", L"ς",  L"İ",      L"i",         L"I",
                                           L".", L"+", L"\r", L"\n",     L"\r\n",      L"\u2028",
                                           L"/", L"$", L" ",  L"\xDC80", L"\U00010428"};
    std::mt19937 random(20240611);
    const auto pick = [&](const std::vector<TBString>& from) {
        return from[random() % from.size()];
    };
    int compared = 0;
    int matched = 0;
    for (int round = 0; round < 1500; ++round) {
        TBString expression = random() % 2 ? L"^" : L"";
        TBString near;  // a subject built along the expression, so that many match
        for (int n = static_cast<int>(random() % 6); n > 0; --n) {
            const TBString token = pick(literals);
            expression += token;
            near += token[0] == L'.' ? (token == L".*" && random() % 2 ? TBString() : pick(letters))
                    : token[0] == L'\\' ? token.mid(1)
                                        : token;
        }
        if (random() % 2)
            expression += L"$";
        ASSERT_TRUE(TBRegularExpression(expression, true, false).isPlainWildcard());
        for (const TBString& subject :
             {near, near.foldCase(), near + pick(letters), pick(letters)}) {
            matched += expectSameAsIcu(expression, subject, true, random() % 2);
            matched += expectSameAsIcu(expression, subject, false, false);
            compared += 2;
        }
    }
    EXPECT_GT(matched, compared / 5) << "too few matches to compare matching";
    EXPECT_LT(matched, compared - compared / 5) << "too few mismatches to compare";
}

TEST(TBRegularExpressionIcu, InvalidExpressionNeverMatches) {
    for (const wchar_t* expression : {L"[abc", L"(x", L"a{", L"*", L"x\\"}) {
        const TBRegularExpression regex(expression, true, false);
        EXPECT_FALSE(regex.isValid()) << TBString(expression).narrow();
        EXPECT_FALSE(regex.matches(expression));
        EXPECT_FALSE(regex.matches(L""));
    }
}

TEST(TBRegularExpressionIcu, ClassesAndGroupsAreMatchedByIcu) {
    const TBRegularExpression version(L"^v[0-9]{1}\\.(a|b)$", true, false);
    EXPECT_FALSE(version.isPlainWildcard());
    EXPECT_TRUE(version.matches(L"V7.B"));
    EXPECT_FALSE(version.matches(L"v10.a"));
    const TBRegularExpression digit(L"^file\\d$", true, false);
    EXPECT_FALSE(digit.isPlainWildcard()) << "a backslash before a letter is an operator";
    EXPECT_TRUE(digit.matches(L"File7"));
    EXPECT_FALSE(digit.matches(L"filed"));
    EXPECT_FALSE(TBRegularExpression(L"^a.*$", false, false).matches(L"Abc"));
}

TEST(TBRegularExpressionIcu, RunawayBacktrackingCountsAsNoMatch) {
    const TBRegularExpression regex(L"^(a|aa)*c$", true, false);
    EXPECT_FALSE(regex.matches(TBString(60, L'a')));
    EXPECT_TRUE(regex.matches(L"aaAc")) << "the expression stays usable";
}

TEST(TBRegularExpressionIcu, SharedSafelyAcrossThreads) {
    const auto countMatches = [] {
        int count = 0;
        for (int i = 0; i < 2000; ++i) {
            const TBString name = TBString::valueOf(i) + (i % 3 ? L".tmp" : L".doc");
            count += TBRegularExpression(L"^.*\\.tmp$", true, false).matches(name);
            count += TBRegularExpression(L"^[0-9]+\\.(tmp)$", true, false).matches(name);
        }
        return count;
    };
    const int alone = countMatches();
    EXPECT_GT(alone, 2000);
    std::vector<int> counts(8, 0);
    std::vector<std::thread> threads;
    for (int& count : counts)
        threads.emplace_back([&count, &countMatches] { count = countMatches(); });
    for (auto& thread : threads) thread.join();
    for (int count : counts) EXPECT_EQ(count, alone);
}

}  // namespace
