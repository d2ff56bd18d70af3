#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <tuple>

#include "mfc/MfcExt.h"
#include "support/ScriptedDialogDriver.h"
#include "support/TempDir.h"

using terbin::TBString;

// The sheet behaviour the backup set wizard relies on (loading, saving only
// opened pages, refusals naming the field, notifications, OK rules, the
// choosers through the driver) is covered through its real pages in
// tests/ui/WizardTest.cpp; these cases hold what that wizard does not reach.

namespace {

constexpr UINT CountTemplate = 9101;
constexpr UINT PlainTemplate = 9103;

constexpr int NameField = 1001;
constexpr int CountField = 1002;
constexpr int StopButton = 1005;

ControlRecord control(int id, ControlKind kind, const wchar_t* label) {
    ControlRecord record;
    record.id = id;
    record.kind = kind;
    record.label = label;
    return record;
}

void registerTemplates() {
    const auto edit = ControlKind::Edit;
    const auto button = ControlKind::Button;
    std::vector<ControlRecord> controls{control(NameField, edit, L"&Name:"),
                                        control(CountField, edit, L"&Count:")};
    AfxRegisterDialogTemplate({CountTemplate, L"Count", 300, 200, controls});
    controls = {control(NameField, edit, L"Name:"), control(StopButton, button, L"Stop"),
                control(IDOK, button, L"OK"), control(IDCANCEL, button, L"Cancel")};
    AfxRegisterDialogTemplate({PlainTemplate, L"Plain", 120, 80, controls});
}

// What the test sheet edits, with the saves of each of its pages.
struct Record {
    TBString name = L"daily";
    int count = 3;
    std::array<int, 3> saves{};
};

// A page of a name that OK needs and a count.
struct CountPage : CGenericPropertyPage {
    CountPage(Record& edited, int pageIndex)
        : CGenericPropertyPage(nullptr, CountTemplate), record(edited), index(pageIndex) {
        onCommand(NameField, EN_CHANGE, [this] {
            GetSheet()->EnableOKButton(!GetDlgItemText(NameField).trimmed().isEmpty());
        });
    }

    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, NameField, name);
        DDX_Text(pDX, CountField, count);
    }
    void LoadData() override {
        name = record.name;
        count = record.count;
    }
    void SaveData() override {
        ++record.saves[index];
        record.name = name;
        record.count = count;
    }

    Record& record;
    int index;
    TBString name;
    int count = 0;
};

class DialogSheet : public ::testing::Test {
protected:
    void SetUp() override { registerTemplates(); }

    // Runs a sheet of `pages` count pages over `record` with the script
    // given to `driver`, from a fresh record of what it shows.
    INT_PTR run(bool wizard = false, int pages = 1) {
        driver.shown.clear();
        CGenericPropertySheet sheet(wizard, 0);
        for (int i = 0; i < pages; ++i) sheet.AddPage(new CountPage(record, i), true);
        return sheet.DoModal();
    }

    Record record;
    ScriptedDialogDriver driver;
};

TEST_F(DialogSheet, NumberFieldTakesWholeNumbersInTheSignedRangeAndRefusesTheRest) {
    const std::pair<const wchar_t*, int> taken[]{
        {L" -42 ", -42}, {L"-2147483648", INT_MIN}, {L"2147483647", INT_MAX}};
    for (const auto& [text, value] : taken) {
        driver.setText(CountField, text).confirm();
        EXPECT_EQ(run(), IDOK) << TBString(text).narrow();
        EXPECT_EQ(record.count, value);
    }
    for (const TBString refused :
         {L"12x", L"99999999999", L"2147483648", L"-2147483649", L"", L"-", L"1 2", L"0x10"}) {
        SCOPED_TRACE(refused.narrow());
        driver.setText(CountField, refused).confirm();
        EXPECT_EQ(run(), IDCANCEL);
        EXPECT_FALSE(driver.shown.at(2).taken);
        EXPECT_NE(driver.shown[2].message.indexOf(L"\"" + refused + L"\""), -1);
    }
    EXPECT_EQ(record.count, INT_MAX);
    EXPECT_EQ(record.saves[0], 3);
}

TEST_F(DialogSheet, DisabledOkRefusesUntilTheNameEnablesItAgain) {
    driver.setText(NameField, L"  ").confirm().setText(NameField, L"named").confirm();
    EXPECT_EQ(run(), IDOK);
    EXPECT_FALSE(driver.shown.at(1).okEnabled);
    EXPECT_FALSE(driver.shown[2].taken);
    EXPECT_EQ(record.name, L"named");
}

TEST_F(DialogSheet, WizardOpensPagesInOrderAndFinishesOnTheLast) {
    driver.goToPage(2).next().setText(CountField, L"5").back().confirm().goToPage(2).next();
    driver.next().goToPage(0).goToPage(2).confirm();
    EXPECT_EQ(run(true, 3), IDOK);
    std::vector<bool> taken;
    for (const auto& shown : driver.shown) taken.push_back(shown.taken);
    // Skipping ahead and finishing early are refused; opened pages are free.
    EXPECT_EQ(taken, (std::vector<bool>{true, false, true, true, true, false, false, true, true,
                                        true, true, true}));
    // Back on a page, its controls are refilled from its members.
    EXPECT_EQ(driver.shown.at(7).page, 1);
    EXPECT_EQ(driver.shown[7].control(CountField)->text, L"5");
    EXPECT_EQ(record.saves, (std::array<int, 3>{1, 1, 1}));
}

TEST(FolderChooser, TakesOnlyAnExistingFolderWhenItMustExist) {
    TempDir folder;
    ScriptedDialogDriver driver;
    driver.answerFolder(TBString::fromBytes(folder / "missing"))
        .answerFolder(TBString::fromBytes(folder.path()));
    CFolderDialog chooser(L"", L"", nullptr, FOLDER_MUST_EXIST);
    EXPECT_EQ(chooser.DoModal(), IDCANCEL);
    EXPECT_EQ(chooser.DoModal(), IDOK);
    EXPECT_EQ(chooser.GetFolderPath(), TBString::fromBytes(folder.path()));
}

// A plain dialog whose Stop button ends it with its own result.
struct PlainDialog : CDialog {
    explicit PlainDialog(UINT templateId = PlainTemplate) : CDialog(templateId) {
        onCommand(StopButton, BN_CLICKED, [this] { EndDialog(7); });
    }
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, NameField, name);
        DDX_Text(pDX, 1999, missing);
    }
    TBString name = L"first";
    TBString missing;
};

TEST(PlainDialogRun, DoModalGivesTheDriversResult) {
    registerTemplates();
    PlainDialog dialog;
    // Without a driver nothing can be shown or chosen.
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(CFileDialog(TRUE).DoModal(), IDCANCEL);
    EXPECT_EQ(CFolderDialog(L"", L"", nullptr, 0).DoModal(), IDCANCEL);

    PaintingDriver driver;
    driver.setText(NameField, L"second").click(IDOK);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.name, L"second");
    EXPECT_EQ(driver.shown[0].caption, L"Plain");
    EXPECT_EQ(driver.shown[0].control(NameField)->text, L"first");
    // A dialog that paints nothing itself gets the face colour over its area.
    ASSERT_EQ(driver.dc.operations().size(), 1u);
    EXPECT_EQ(driver.dc.operations()[0].colour, DIALOG_FACE_COLOUR);
    const RECT& face = driver.dc.operations()[0].rect;
    EXPECT_EQ(std::tie(face.left, face.top, face.right, face.bottom),
              std::make_tuple(0L, 0L, 120L, 80L));

    driver.setText(NameField, L"third").click(StopButton);
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_EQ(dialog.name, L"second");
    driver.click(IDCANCEL);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);

    // A control the template lacks is a fault the dialog keeps, not a crash.
    dialog.GetDlgItem(1998)->EnableWindow(FALSE);
    dialog.SetDlgItemText(1998, L"nowhere");
    EXPECT_TRUE(dialog.GetDlgItemText(1998).isEmpty());
    const std::vector<TBString> faults{L"control 1999 is not in dialog template 9103",
                                       L"control 1998 is not in dialog template 9103"};
    EXPECT_EQ(dialog.faults(), faults);

    PlainDialog orphan(9199);
    EXPECT_EQ(orphan.DoModal(), -1);
    EXPECT_EQ(orphan.faults().size(), 1u);
    EXPECT_EQ(driver.sessions, 3);
}

// How a PNG image is drawn is seen in the about box's tests.
TEST(Picture, DrawsNothingButAPngImage) {
    const RECT area{0, 0, 640, 480};
    AfxRegisterPicture(9302, {'G', 'I', 'F', '8', '9', 'a', 0x00, 0x01, 0x02, 0x03});
    CDC dc;
    CPicture picture;
    for (const UINT missingOrNoPng : {9399u, 9302u}) {
        EXPECT_FALSE(picture.Load(missingOrNoPng));
        EXPECT_FALSE(picture.Render(&dc, area));
    }
    EXPECT_TRUE(dc.operations().empty());
}

}  // namespace
