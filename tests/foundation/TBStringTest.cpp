#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "foundation/TBString.h"

using terbin::TBString;

TEST(TBStringBytes, InvalidUtf8RoundTripsAndControlsBackslashesAndInvalidBytesShowAsEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"a\nb\tc\rd\\e\x1b[2J\x07\x7f", "a\\nb\\tc\\rd\\\\e\\x1b[2J\\x07\\x7f"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80",
         "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80"},
        // Stray, truncated, overlong, an encoded surrogate, beyond U+10FFFF.
        {"bad\xc3", "bad\\xc3"},
        {"\xff\xfe\xe2\x82!\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80",
         "\\xff\\xfe\\xe2\\x82!\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},
        // U+009B is a terminal's one-character ESC [; U+00A0 is text.
        {"\xc2\x9b"
         "2J \xc2\xa0",
         "\\xc2\\x9b2J \xc2\xa0"}};
    for (const auto& [bytes, shown] : cases) {
        EXPECT_EQ(TBString::escapeBytes(bytes), shown) << bytes;
        // The escaped text is valid UTF-8 without a control character.
        const TBString decoded = TBString::fromBytes(shown);
        for (const wchar_t c : decoded.str()) {
            EXPECT_FALSE(c < 0x20 || (c >= 0x7f && c < 0xa0) || (c >= 0xDC80 && c <= 0xDCFF))
                << bytes;
        }
        // A name's bytes, invalid ones included, come back unchanged and
        // reach escaped() unchanged.
        EXPECT_EQ(TBString::fromBytes(bytes).narrow(), bytes);
        EXPECT_EQ(TBString::fromBytes(bytes).escaped(), shown) << bytes;
    }
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
