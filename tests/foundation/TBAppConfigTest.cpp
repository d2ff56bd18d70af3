#include "foundation/TBAppConfig.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include "foundation/TBEnvironment.h"
#include "support/TempDir.h"

using terbin::TBString;
using terbin::TBValue;
using util::TBAppConfig;
using util::TBAppInfo;

namespace {

TEST(ProductValues, ProductFileSetsTypedValuesAndTheDataFolder) {
    TempDir dir;
    writeFile(dir / "product.bcf",
              "# product file\nPRODUCT_TITLE = \"Ulvaren # Home\"  # the title\n"
              "PRODUCT_BUILD = 200\r\nPRODUCT_MIXED = 3rd edition # note\n"
              "DATA_DIR = /srv/ulvaren\nno value here\n");
    TBAppConfig config(L"Test");
    config.setProductValue(L"PRODUCT_BUILD", TBValue(126));
    ASSERT_EQ(config.loadProductInfo(TBString::fromBytes(dir / "product.bcf")), 0u);
    EXPECT_EQ(config.getProductString(L"PRODUCT_TITLE").narrow(), "Ulvaren # Home");
    EXPECT_EQ(config.getProductInt32(L"product_build"), 200);
    EXPECT_EQ(config.getProductString(L"PRODUCT_MIXED").narrow(), "3rd edition");
    EXPECT_EQ(config.getDataDir().narrow(), "/srv/ulvaren");
    EXPECT_EQ(config.loadProductInfo(TBString::fromBytes(dir / "absent.bcf")), 2u);
    EXPECT_EQ(TBAppInfo(L"Ulvaren", 1, 1, 6, 126).version("%t v%m.%n.%r build %b 100%%").narrow(),
              "Ulvaren v1.1.6 build 126 100%");
}

TEST(ResourceFiles, FirstFolderHoldingTheFileWinsElseTheFirstFolder) {
    TempDir dir;
    terbin::tb_misc_setExecutablePath(TBString::fromBytes(dir / "app/bin/ulvaren"));
    unsetenv("ULVAREN_RESOURCES");
    for (const char* file : {"app/share/ulvaren/a.ini", "app/bin/resources/b.ini",
                             "app/share/ulvaren/b.ini", "env/c.ini", "app/bin/resources/c.ini"})
        writeFile(dir / file, "");
    const TBAppConfig config(L"Test");
    const auto find = [&](const wchar_t* name) { return config.getResourceFile(name).narrow(); };
    EXPECT_EQ(find(L"a.ini"), dir / "app/share/ulvaren/a.ini");
    EXPECT_EQ(find(L"b.ini"), dir / "app/bin/resources/b.ini");
    setenv("ULVAREN_RESOURCES", (dir / "env").c_str(), 1);
    EXPECT_EQ(find(L"c.ini"), dir / "env/c.ini");
    EXPECT_EQ(find(L"b.ini"), dir / "app/bin/resources/b.ini");
    EXPECT_EQ(find(L"none.ini"), dir / "env/none.ini");
    unsetenv("ULVAREN_RESOURCES");
    terbin::tb_misc_setExecutablePath(TBString());
}

}  // namespace
