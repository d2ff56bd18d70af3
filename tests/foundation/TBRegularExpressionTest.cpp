#include <gtest/gtest.h>
#include <unicode/regex.h>

#include <memory>
#include <random>
#include <vector>

#include "foundation/TBRegularExpression.h"
#include "support/Seed.h"

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

// Checks both ways of matching against ICU's answer, which it returns.
bool expectSameAsIcu(const TBString& expression, const TBString& subject, bool ignoreCase,
                     bool multiLine) {
    const TBRegularExpression regex(expression, ignoreCase, multiLine);
    const bool expected = icuMatches(expression, subject, ignoreCase, multiLine);
    EXPECT_EQ(regex.matches(subject), expected)
        << TBString(expression).narrow() << " on " << subject.narrow();
    EXPECT_EQ(regex.matches(TBRegularExpression::Subject(subject)), expected);
    return expected;
}

TEST(PlainWildcardMatching, AgreesWithIcuOnEdgeCasesAndGeneratedExpressions) {
    // Line breaks, case folding beyond ASCII, an unpaired surrogate,
    // escaped operators; then expressions made at random.
    std::vector<std::pair<TBString, TBString>> cases = {
        {L"^.*\\.tmp$", L"a.tmp\n"}, {L"^a.{1}c$", L"a\r\nc"},   {L"^.*ss$", L"Ma\u00df"},
        {L"^k$", L"\u212A"},         {L"^a.{1}-$", L"A\xDC80-"}, {L"^\\(x\\)\\+\\\\$", L"(X)+\\"}};
    const std::vector<TBString> literals = {L"a",   L"A",          L"s",  L"k",    L"ä",   L"σ",
                                            L"ı",   L"I",          L"/",  L" ",    L"\\.", L"\\+",
                                            L"\\$", L"\U00010400", L".*", L".{1}", L"."};
    const std::vector<TBString> letters = {L"a", L"S", L"ß",  L"ſ",      L"\u212A",    L"K",
                                           L"Ä", L"Σ", L"ς",  L"İ",      L"i",         L"I",
                                           L".", L"+", L"\r", L"\n",     L"\r\n",      L"\u2028",
                                           L"/", L"$", L" ",  L"\xDC80", L"\U00010428"};
    std::mt19937 random(testSeed(20240611));
    const auto pick = [&](const std::vector<TBString>& from) {
        return from[random() % from.size()];
    };
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
        for (const TBString& subject : {near, near.foldCase(), near + pick(letters), pick(letters)})
            cases.emplace_back(expression, subject);
    }
    int matched = 0;
    for (const auto& [expression, subject] : cases) {
        ASSERT_TRUE(TBRegularExpression(expression, true, false).isPlainWildcard())
            << expression.narrow();
        for (const int flags : {0, 1, 2, 3})
            matched += expectSameAsIcu(expression, subject, flags & 1, flags & 2);
    }
    const int compared = 4 * static_cast<int>(cases.size());
    EXPECT_GT(matched, compared / 5) << "too few matches to compare matching";
    EXPECT_LT(matched, compared - compared / 5) << "too few mismatches to compare";
}

TEST(TBRegularExpressionIcu, InvalidExpressionNeverMatchesAndRunawayBacktrackingFails) {
    for (const wchar_t* expression : {L"[abc", L"(x", L"a{", L"*", L"x\\"}) {
        const TBRegularExpression regex(expression, true, false);
        EXPECT_FALSE(regex.isValid()) << TBString(expression).narrow();
        EXPECT_FALSE(regex.matches(expression));
        EXPECT_FALSE(regex.matches(L""));
    }
    const TBRegularExpression regex(L"^(a|aa)*c$", true, false);
    EXPECT_FALSE(regex.isPlainWildcard());
    EXPECT_FALSE(regex.matches(TBString(60, L'a')));
    EXPECT_TRUE(regex.matches(L"aaAc")) << "the expression stays usable and ignores case";
}

}  // namespace
