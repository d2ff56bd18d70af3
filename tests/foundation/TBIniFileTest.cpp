#include "foundation/TBIniFile.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace terbin;

namespace {

// The text of section/key, or "<none>".
std::string text(const TBIniFile& file, const TBString& section, const TBString& key) {
    const TBConfigKey* found = file.findKey(section);
    const TBConfigValue* value = found ? found->value(key) : nullptr;
    return value ? value->toString().narrow() : "<none>";
}

class TBIniFileTest : public ::testing::Test {
protected:
    TempDir dir;
    const TBString path = TBString::fromBytes(dir / "table.ini");
    TBIniFile ini{TBString(), false, false};
};

TEST_F(TBIniFileTest, ReadsSectionsValuesQuotesCommentsAndRawBytesAndKeepsTheFirstOfNamesakes) {
    writeFile(path.narrow(),
              "\xEF\xBB\xBFtop = level\n; comment = no\n  # hash = no\n[ Main ]  trailing text\n"
              "  title  =   Ulvaren backup  \r\npadded = \"  two blanks  \"\nsemi = a ; b # c\n"
              "empty =\nno equals sign\n= nameless\nname = Gr\xC3\xBC\xC3\x9F\x65\n"
              "raw = bad\xFF byte\n[broken\nafter = broken header\n");
    ASSERT_EQ(ini.readFromFile(path), 0u);
    EXPECT_EQ(ini.value(L"top")->toString().narrow(), "level");
    EXPECT_EQ(text(ini, L"Main", L"title"), "Ulvaren backup");
    EXPECT_EQ(text(ini, L"Main", L"padded"), "  two blanks  ");
    EXPECT_EQ(text(ini, L"Main", L"semi"), "a ; b # c");
    EXPECT_EQ(ini.findKey(L"Main")->value(L"name")->toString(), TBString(L"Grüße"));
    EXPECT_EQ(text(ini, L"Main", L"raw"), "bad\xFF byte");
    EXPECT_EQ(ini.keyCount() + ini.valueCount(), 2) << "comments make nothing";
    EXPECT_EQ(ini.findKey(L"Main")->valueCount(), 7);

    // A second file adds to the tree; names ignore case and the first of duplicates wins.
    writeFile(path.narrow(),
              "[Messages]\nGreeting = first\nGREETING = second\n[ÄRGER]\nx = 1\n"
              "[messages]\nfarewell = bye\ngreeting = third\n[MAIN]\ntitle = again\n");
    ASSERT_EQ(ini.readFromFile(path), 0u);
    EXPECT_EQ(text(ini, L"MESSAGES", L"greeting"), "first");
    EXPECT_EQ(text(ini, L"Messages", L"Farewell"), "bye");
    EXPECT_EQ(text(ini, L"ärger", L"X"), "1");
    EXPECT_EQ(text(ini, L"main", L"TITLE"), "Ulvaren backup");
    EXPECT_EQ(ini.keyCount(), 3);
    EXPECT_EQ(ini.readFromFile(TBString::fromBytes(dir / "absent.ini")), 2u);
}

}  // namespace
