#include <stdlib.h>

#include <gtest/gtest.h>

#include "base/ULVConfig.h"
#include "base/ULVbase.h"
#include "foundation/TBEnvironment.h"
#include "foundation/TBFileInfo.h"
#include "support/TempDir.h"

using terbin::TBFileInfo;
using terbin::TBString;

namespace {

// The executable pretends to live in <dir>/A; the all-users application data
// folder is <dir>/common.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeDirs(dir / "A");
        terbin::tb_misc_setExecutablePath(path("A/ulvaren-host"));
        unsetenv("ULVAREN_RESOURCES");
        setenv("ULVAREN_COMMON_APPDATA", (dir / "common").c_str(), 1);
    }
    void TearDown() override {
        terbin::tb_misc_setExecutablePath(TBString());
        unsetenv("ULVAREN_COMMON_APPDATA");
    }
    TBString path(const std::string& relative) { return TBString::fromBytes(dir / relative); }

    TempDir dir;
};

TEST_F(ConfigTest, WithoutProductFileTheBuiltInValuesHold) {
    const ULVConfig config;
    EXPECT_EQ(config.product().version("%m.%n.%r build %b").narrow(), "1.1.6 build 126");
    EXPECT_EQ(config.product().title.narrow(), "");
    EXPECT_EQ(config.getProductString(L"PRODUCT_NAME").narrow(), "Ulvaren");
    EXPECT_EQ(config.getRegistryRoot().narrow(), "Software/Dallonet/Ulvaren");
    EXPECT_EQ(theAppConfig.getRegistryRoot().narrow(), "Software/Dallonet/Ulvaren");
}

TEST_F(ConfigTest, ProductFileBesideTheExecutableHidesTheParentsOne) {
    writeFile(dir / "A/product.bcf", "PRODUCT_TITLE = Beside\nPRODUCT_BUILD = 300\n");
    writeFile(dir / "product.bcf", "PRODUCT_TITLE = Parent\nPRODUCT_MINOR_VERSION = 9\n");
    const ULVConfig config;
    EXPECT_EQ(config.product().version("%t %m.%n.%r build %b").narrow(), "Beside 1.1.6 build 300");
}

TEST_F(ConfigTest, ProductFileInTheParentIsUsedWhenNoneIsBeside) {
    writeFile(dir / "product.bcf",
              "PRODUCT_TITLE = \"Parent Edition\"\nPRODUCT_MINOR_VERSION = 9\n");
    const ULVConfig config;
    EXPECT_EQ(config.product().version("%t %m.%n.%r").narrow(), "Parent Edition 1.9.6");
}

TEST_F(ConfigTest, StringTablesFollowTheMessagesTable) {
    // theBaseApp keeps its tables for good: a section of this test's own.
    const std::string section = dir.path().substr(dir.path().rfind('/') + 1);
    writeFile(dir / "A/resources/messages.ini", "[" + section + "]\nshared = messages\n");
    writeFile(dir / "A/resources/ulvaren-host.ini",
              "[" + section + "]\nshared = host\nown = host\n");
    const auto load = [&](const wchar_t* key) {
        return theBaseApp.loadString(TBString::fromBytes(section), key, L"none").narrow();
    };
    ULVConfig config;
    EXPECT_EQ(load(L"shared"), "messages");
    EXPECT_EQ(load(L"own"), "none");
    EXPECT_TRUE(config.init(0));
    EXPECT_EQ(load(L"shared"), "messages");
    EXPECT_EQ(load(L"own"), "host");
}

TEST_F(ConfigTest, InitCreatesTheDataFolderUnderCommonApplicationData) {
    ULVConfig config;
    EXPECT_TRUE(config.init(0));
    EXPECT_EQ(config.getDataDir(), path("common/Dallonet/Ulvaren"));
    EXPECT_TRUE(TBFileInfo::isFolder(config.getDataDir()));
}

TEST_F(ConfigTest, DataFolderSetBeforeInitIsKeptAndCreated) {
    writeFile(dir / "A/product.bcf", "DATA_DIR = " + dir / "from-file/data" + "\n");
    ULVConfig fromFile;
    ULVConfig preset;
    preset.setDataDir(path("preset/data"));
    EXPECT_TRUE(fromFile.init(0));
    EXPECT_TRUE(preset.init(0));
    EXPECT_EQ(fromFile.getDataDir(), path("from-file/data"));
    EXPECT_EQ(preset.getDataDir(), path("preset/data"));
    EXPECT_TRUE(TBFileInfo::isFolder(path("from-file/data")));
    EXPECT_TRUE(TBFileInfo::isFolder(path("preset/data")));
    EXPECT_FALSE(TBFileInfo::isFolder(path("common")));
}

TEST_F(ConfigTest, CopiesCarryTheWholeConfiguration) {
    ULVConfig original;
    original.setProductValue(L"EXTRA", 5);
    original.setDataDir(L"/data");
    ULVConfig copy(original);
    ULVConfig assigned;
    assigned = original;
    EXPECT_TRUE(copy.getProductInt32(L"EXTRA") == 5 && copy.getDataDir() == L"/data");
    EXPECT_TRUE(assigned.getProductInt32(L"EXTRA") == 5 && assigned.getDataDir() == L"/data");
}

}  // namespace
