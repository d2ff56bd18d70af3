#include "foundation/TBIniFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace terbin;

namespace {

class TBIniFileTest : public ::testing::Test {
protected:
    // Reads `contents` as an INI file into `target`; returns the read's result.
    uint32_t read(TBIniFile& target, const std::string& contents) {
        writeFile(dir / "table.ini", contents);
        return target.readFromFile(TBString::fromBytes(dir / "table.ini"));
    }
    // The text of section/key, or "<none>".
    static std::string text(const TBIniFile& file, const TBString& section, const TBString& key) {
        const TBConfigKey* found = file.findKey(section);
        const TBConfigValue* value = found ? found->value(key) : nullptr;
        return value ? value->toString().narrow() : "<none>";
    }

    TempDir dir;
    TBIniFile ini{TBString(), false, false};
};

TEST_F(TBIniFileTest, ReadsSectionsValuesQuotesAndComments) {
    ASSERT_EQ(read(ini,
                   "top = level\n"
                   "; comment = no\n"
                   "  # hash = no\n"
                   "[ Main ]  trailing text\n"
                   "  title  =   Ulvaren backup  \r\n"
                   "padded = \"  two blanks  \"\n"
                   "semi = a ; b # c\n"
                   "empty =\n"
                   "no equals sign\n"
                   "= nameless\n"
                   "[broken\n"
                   "after = broken header\n"),
              0u);
    EXPECT_EQ(ini.value(L"top")->toString().narrow(), "level");
    EXPECT_EQ(text(ini, L"Main", L"title"), "Ulvaren backup");
    EXPECT_EQ(text(ini, L"Main", L"padded"), "  two blanks  ");
    EXPECT_EQ(text(ini, L"Main", L"semi"), "a ; b # c");
    EXPECT_EQ(text(ini, L"Main", L"empty"), "");
    EXPECT_EQ(text(ini, L"Main", L"after"), "broken header");
    EXPECT_EQ(text(ini, L"Main", L"comment"), "<none>");
    EXPECT_EQ(ini.value(L"hash"), nullptr);
    EXPECT_EQ(ini.keyCount(), 1);
    EXPECT_EQ(ini.findKey(L"Main")->valueCount(), 5);
}

TEST_F(TBIniFileTest, NamesIgnoreCaseAndFirstDuplicateWins) {
    read(ini,
         "[Messages]\nGreeting = first\nGREETING = second\n[ÄRGER]\nx = 1\n"
         "[messages]\nfarewell = bye\ngreeting = third\n");
    EXPECT_EQ(text(ini, L"MESSAGES", L"greeting"), "first");
    EXPECT_EQ(text(ini, L"Messages", L"Farewell"), "bye");
    EXPECT_EQ(text(ini, L"ärger", L"X"), "1");
    EXPECT_EQ(ini.keyCount(), 2);
}

TEST_F(TBIniFileTest, TextIsDecodedLosslessly) {
    read(ini, "\xEF\xBB\xBF[s]\nname = Gr\xC3\xBC\xC3\x9F\x65\nraw = bad\xFF byte\n");
    EXPECT_EQ(ini.findKey(L"s")->value(L"name")->toString(), TBString(L"Grüße"));
    EXPECT_EQ(text(ini, L"s", L"raw"), "bad\xFF byte");
}

TEST_F(TBIniFileTest, MissingFileGivesItsResultAndAnEmptyTree) {
    EXPECT_EQ(ini.readFromFile(TBString::fromBytes(dir / "absent.ini")), 2u);
    EXPECT_EQ(ini.keyCount(), 0);
    EXPECT_EQ(ini.valueCount(), 0);
}

TEST_F(TBIniFileTest, FlagsReadAtConstructionAndKeepLetterCase) {
    writeFile(dir / "named.ini", "[A]\nk = lower\nK = upper\n");
    const TBIniFile strict(TBString::fromBytes(dir / "named.ini"), true, true);
    EXPECT_EQ(text(strict, L"A", L"k"), "lower");
    EXPECT_EQ(text(strict, L"A", L"K"), "upper");
    EXPECT_EQ(strict.findKey(L"a"), nullptr);
    EXPECT_EQ(TBIniFile(TBString::fromBytes(dir / "named.ini"), false, false).keyCount(), 0);
}

}  // namespace
