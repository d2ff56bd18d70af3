#include <stdlib.h>

#include <gtest/gtest.h>

#include <tuple>

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

TEST_F(ConfigTest, ProductFileBesideTheExecutableHidesTheParentsOneAndBothOverrideBuiltIns) {
    const auto version = [] {
        return ULVConfig().product().version("%t|%m.%n.%r build %b").narrow();
    };
    EXPECT_EQ(version(), "|1.1.6 build 126");
    writeFile(dir / "product.bcf",
              "PRODUCT_TITLE = \"Parent Edition\"\nPRODUCT_MINOR_VERSION = 9\n");
    EXPECT_EQ(version(), "Parent Edition|1.9.6 build 126");
    writeFile(dir / "A/product.bcf", "PRODUCT_TITLE = Beside\nPRODUCT_BUILD = 300\n");
    EXPECT_EQ(version(), "Beside|1.1.6 build 300");
}

TEST_F(ConfigTest, InitKeepsADataFolderSetBeforeOrTakesOneUnderCommonDataAndCreatesIt) {
    const std::string fromFile = "DATA_DIR = " + dir / "from-file/data" + "\n";
    const std::tuple<std::string, const char*, const char*> cases[] = {
        {fromFile, nullptr, "from-file/data"},
        {"", "preset/data", "preset/data"},
        {"", nullptr, "common/Dallonet/Ulvaren"}};
    for (const auto& [file, preset, expected] : cases) {
        EXPECT_FALSE(TBFileInfo::isFolder(path("common"))) << "only the last case makes it";
        writeFile(dir / "A/product.bcf", file);
        ULVConfig config;
        if (preset)
            config.setDataDir(path(preset));
        EXPECT_TRUE(config.init(0));
        EXPECT_EQ(config.getDataDir(), path(expected));
        EXPECT_TRUE(TBFileInfo::isFolder(path(expected)));
    }
}

}  // namespace
