#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/ULVbase.h"
#include "support/TempDir.h"

using terbin::TBString;

namespace {

// Each test has an application object of its own, so its list starts empty.
class StringTableTest : public ::testing::Test {
protected:
    // Writes an INI file and adds it as a table.
    void add(const std::string& name, const std::string& contents, bool atEnd = true) {
        writeFile(dir / name, contents);
        app.addStringTable(TBString::fromBytes(dir / name), atEnd);
    }
    std::string load(const TBString& section, const TBString& key) {
        return app.loadString(section, key, L"<default>").narrow();
    }

    TempDir dir;
    ULVbase app;
};

TEST_F(StringTableTest, TableNearerTheHeadHoldingTheKeyWinsAndPathsThatAreNoFileAddNothing) {
    EXPECT_EQ(load(L"S", L"K"), "<default>");
    add("one.ini", "[S]\nK = one\n");
    add("two.ini", "[S]\nK = two\nonly = two\n");
    EXPECT_EQ(load(L"S", L"K"), "one");
    EXPECT_EQ(load(L"s", L"ONLY"), "two");
    add("three.ini", "[S]\nK = three\n", false);
    EXPECT_EQ(load(L"S", L"K"), "three");
    app.addStringTable(TBString::fromBytes(dir / "missing.ini"), false);
    EXPECT_EQ(app.stringTables.size(), 3);
}

TEST_F(StringTableTest, LookupsMayRunWhileTablesAreAdded) {
    add("base.ini", "[S]\nK = 0\n");
    std::atomic<bool> done{false};
    std::atomic<int> misses{0};
    std::thread reader([&] {
        while (!done) {
            if (app.loadString(L"S", L"K", L"").isEmpty())
                ++misses;
        }
    });
    for (int i = 1; i <= 20; ++i)
        add("t" + std::to_string(i) + ".ini", "[S]\nK = " + std::to_string(i) + "\n", false);
    done = true;
    reader.join();
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(load(L"S", L"K"), "20");
}

}  // namespace
