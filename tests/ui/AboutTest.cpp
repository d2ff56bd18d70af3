#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <utility>

#include "backupset/BackupSetConfiguration.h"
#include "base/ULVConfig.h"
#include "foundation/TBEnvironment.h"
#include "foundation/TBTime.h"
#include "mfc/ModalSession.h"
#include "support/ScriptedDialogDriver.h"
#include "support/TempDir.h"
#include "ui/AboutDialog.h"

using terbin::TBString;

namespace {

constexpr int Title = 1018;
constexpr int Text = 1019;

// A scripted driver that lets the dialog paint its background when it opens.
struct PaintingDriver : ScriptedDialogDriver {
    INT_PTR runModal(ModalSession& session) override {
        erased = session.paintBackground(dc);
        return ScriptedDialogDriver::runModal(session);
    }
    CDC dc;
    BOOL erased = FALSE;
};

class AboutBox : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AfxWinInit(), TRUE); }
    // The configuration as the library set it up, whatever a test loaded.
    void TearDown() override {
        theAppConfig = builtIn;
        BackupSetConfiguration::install(&theAppConfig);
        // The resource library registers its picture again.
        if (pictureRemoved) {
            EXPECT_EQ(AfxWinInit(), TRUE);
        }
    }
    // Shows the box and returns the HTML and the title it showed.
    std::pair<TBString, TBString> show() {
        ScriptedDialogDriver driver;
        driver.click(IDOK);
        EXPECT_EQ(AboutDialog::DoModalDialog(), IDOK);
        return {driver.shown.at(0).control(Text)->label, driver.shown.at(0).control(Title)->label};
    }

    ULVConfig builtIn{theAppConfig};
    bool pictureRemoved = false;
};

TEST_F(AboutBox, ShowsTheBuiltInVersionTheYearsAndTheSiteAsALink) {
    const auto [html, title] = show();
    EXPECT_NE(html.indexOf(L"v1.1.6 build 126<br>"), -1) << html.narrow();
    terbin::TBDate today;
    today.update();
    EXPECT_NE(html.indexOf(TBString::valueOf(today.getYear()) + L" Dallonet."), -1);
    EXPECT_TRUE(
        html.endsWith(L"<p>For more information and support visit <a "
                      L"href=\"https://www.dallonet.com\">https://www.dallonet.com</a>."))
        << html.narrow();
    EXPECT_EQ(title, L"Ulvaren");
}

TEST_F(AboutBox, ProductFileGivesTitleAndVersionButNeverTheProgramsName) {
    TempDir dir;
    makeDirs(dir / "A");
    writeFile(dir / "A/product.bcf",
              "PRODUCT_TITLE = Home & <Office>\nPRODUCT_NAME = Elsewhere\n"
              "PRODUCT_MAJOR_VERSION = 2\nPRODUCT_BUILD = 300\n");
    terbin::tb_misc_setExecutablePath(TBString::fromBytes(dir / "A/host"));
    theAppConfig = ULVConfig();
    terbin::tb_misc_setExecutablePath(TBString());

    const auto [html, title] = show();
    EXPECT_TRUE(html.startsWith(L"Home &amp; &lt;Office&gt; v2.1.6 build 300<br>"))
        << html.narrow();
    EXPECT_EQ(title, L"Ulvaren");
}

TEST_F(AboutBox, PaintsThePictureOverTheClientAreaOrWhiteWithoutIt) {
    const std::optional<DialogTemplate> about = AfxFindDialogTemplate(100);
    ASSERT_TRUE(about);
    const RECT client{0, 0, about->width, about->height};
    for (const bool withPicture : {true, false}) {
        if (!withPicture) {
            AfxRemovePicture(250);
            pictureRemoved = true;
        }
        PaintingDriver driver;
        driver.click(IDCANCEL);
        EXPECT_EQ(AboutDialog::DoModalDialog(), IDCANCEL);
        EXPECT_TRUE(driver.erased);
        ASSERT_EQ(driver.dc.operations().size(), 1u);
        const CDC::Operation& painted = driver.dc.operations()[0];
        const auto expected =
            withPicture ? CDC::Operation::Kind::DrawPicture : CDC::Operation::Kind::FillSolidRect;
        EXPECT_EQ(painted.kind, expected);
        EXPECT_EQ(withPicture ? painted.pictureId : painted.colour, withPicture ? 250u : 0xFFFFFFu);
        EXPECT_EQ(
            std::tie(painted.rect.left, painted.rect.top, painted.rect.right, painted.rect.bottom),
            std::tie(client.left, client.top, client.right, client.bottom));
    }
}

}  // namespace
