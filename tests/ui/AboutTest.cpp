#include <gtest/gtest.h>

#include <tuple>

#include "backupset/BackupSetConfiguration.h"
#include "base/ULVConfig.h"
#include "foundation/TBEnvironment.h"
#include "foundation/TBTime.h"
#include "resource/resource.h"
#include "support/ScriptedDialogDriver.h"
#include "support/TempDir.h"
#include "ui/AboutDialog.h"

using terbin::TBString;

namespace {

constexpr int Title = 1018;
constexpr int Text = 1019;

class AboutBox : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    // The configuration and the picture as the library set them up, whatever
    // a test changed.
    void TearDown() override {
        theAppConfig = builtIn;
        BackupSetConfiguration::install(&theAppConfig);
        EXPECT_EQ(AfxWinInit(), TRUE);
    }
    // Shows the box through DoModalDialog and closes it with `button`; the
    // HTML it showed. Whatever the product values, the title is the program's
    // name, and the one background operation (kept in `painted`) covers the
    // client area.
    TBString show(int button) {
        PaintingDriver driver;
        driver.click(button);
        EXPECT_EQ(AboutDialog::DoModalDialog(), button);
        EXPECT_EQ(driver.shown.at(0).control(Title)->label, L"Ulvaren");
        EXPECT_EQ(driver.dc.operations().size(), 1u);
        painted = driver.dc.operations().at(0);
        const DialogTemplate about = AfxFindDialogTemplate(IDD_ABOUT).value();
        const RECT& area = painted.rect;
        EXPECT_EQ(std::tie(area.left, area.top, area.right, area.bottom),
                  std::make_tuple(0L, 0L, about.width, about.height));
        return driver.shown.at(0).control(Text)->label;
    }

    ULVConfig builtIn{theAppConfig};
    CDC::Operation painted{};
};

TEST_F(AboutBox, ShowsTheBuiltInValuesOverThePictureOrOnWhiteWithoutIt) {
    const TBString html = show(IDOK);
    terbin::TBDate today;
    today.update();
    EXPECT_TRUE(html.endsWith(
        L"v1.1.6 build 126<br>Copyright \u00A9 2011-" + TBString::valueOf(today.getYear()) +
        L" Dallonet. All rights reserved.<p>For more information and support "
        L"visit <a href=\"https://www.dallonet.com\">https://www.dallonet.com</a>."))
        << html.narrow();
    EXPECT_EQ(painted.kind, CDC::Operation::Kind::DrawPicture);
    EXPECT_EQ(painted.pictureId, IDB_ABOUT_BACKGROUND);

    AfxRemovePicture(IDB_ABOUT_BACKGROUND);
    EXPECT_EQ(show(IDCANCEL), html);
    EXPECT_EQ(painted.kind, CDC::Operation::Kind::FillSolidRect);
    EXPECT_EQ(painted.colour, 0xFFFFFFu);
}

TEST_F(AboutBox, ProductFileGivesTheVersionLineWithItsValuesEscaped) {
    TempDir dir;
    writeFile(dir / "product.bcf",
              "PRODUCT_TITLE = Home & <Office>\nPRODUCT_NAME = Elsewhere\n"
              "PRODUCT_MAJOR_VERSION = 2\nPRODUCT_BUILD = 300\nPRODUCT_COMPANY = Kin & Co\n");
    terbin::tb_misc_setExecutablePath(TBString::fromBytes(dir / "host"));
    theAppConfig = ULVConfig();
    terbin::tb_misc_setExecutablePath(TBString());

    const TBString html = show(IDOK);
    EXPECT_TRUE(html.startsWith(L"Home &amp; &lt;Office&gt; v2.1.6 build 300<br>"))
        << html.narrow();
    EXPECT_NE(html.indexOf(L" Kin &amp; Co. All rights reserved."), -1) << html.narrow();
}

}  // namespace
