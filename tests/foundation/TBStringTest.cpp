#include <gtest/gtest.h>

#include "foundation/TBString.h"

using terbin::TBString;

TEST(TBStringBytes, InvalidUtf8RoundTripsByteForByte) {
    // Plain, valid two-byte, stray bytes, truncated sequences, an overlong
    // "/", an encoded surrogate, a code point beyond U+10FFFF, an inner NUL,
    // a line break and a valid four-byte sequence.
    const std::string samples[] = {
        "plain",        "caf\xc3\xa9",      "\xff\xfe",
        "bad\xc3",      "\xe2\x82",         "\xc0\xaf",
        "\xed\xa0\x80", "\xf4\x90\x80\x80", std::string("nul\0inside", 10),
        "line\nbreak",  "\xf0\x9f\x98\x80"};
    for (const std::string& bytes : samples) EXPECT_EQ(TBString::fromBytes(bytes).narrow(), bytes);
    EXPECT_EQ(TBString::fromBytes("caf\xc3\xa9").length(), 4);
    EXPECT_EQ(TBString::fromBytes("\xf0\x9f\x98\x80")[0], static_cast<wchar_t>(0x1F600));
    // An escaped byte never equals a real character.
    EXPECT_NE(TBString::fromBytes("\xe9"), TBString(L"\u00e9"));
}

TEST(TBStringCase, CompareNoCaseFoldsUnicode) {
    EXPECT_EQ(TBString(L"\u00c4rger.TXT").compareNoCase(L"\u00e4rger.txt"), 0);
    EXPECT_EQ(TBString(L"\u03a3\u039f\u03a6").compareNoCase(L"\u03c3\u03bf\u03c6"), 0);
    EXPECT_LT(TBString(L"abc").compareNoCase(L"ABD"), 0);
    EXPECT_GT(TBString(L"abcd").compareNoCase(L"ABC"), 0);
    EXPECT_NE(TBString::fromBytes("\xc4").compareNoCase(TBString::fromBytes("\xe4")), 0)
        << "raw bytes have no case";
}
