#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "mfc/MfcExt.h"
#include "support/ScriptedDialogDriver.h"
#include "support/TempDir.h"

using terbin::TBString;

namespace {

constexpr UINT NamesTemplate = 9101;
constexpr UINT ExtrasTemplate = 9102;
constexpr UINT PlainTemplate = 9103;

constexpr int NameField = 1001;
constexpr int CountField = 1002;
constexpr int LimitCheck = 1003;
constexpr int SchemeList = 1004;
constexpr int ChooseButton = 1005;
constexpr int NotesField = 1001;

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
    AfxRegisterDialogTemplate(
        {NamesTemplate,
         L"Names",
         300,
         200,
         {control(NameField, edit, L"&Name:"), control(CountField, edit, L"&Count:"),
          control(LimitCheck, ControlKind::CheckBox, L"&Limit the count"),
          control(SchemeList, ControlKind::ComboBox, L"&Scheme:"),
          control(ChooseButton, button, L"C&hoose...")}});
    AfxRegisterDialogTemplate({ExtrasTemplate,
                               L"Extras",
                               300,
                               200,
                               {control(NotesField, ControlKind::MultiLineEdit, L"&Notes:")}});
    AfxRegisterDialogTemplate(
        {PlainTemplate,
         L"Plain",
         120,
         80,
         {control(NameField, edit, L"Name:"), control(ChooseButton, button, L"Stop"),
          control(IDOK, button, L"OK"), control(IDCANCEL, button, L"Cancel")}});
}

// What the test sheet edits, with what its pages did: the loads and saves of
// each page, the builds of the extras page and the notifications the names
// page received.
struct Record {
    TBString name = L"daily";
    int count = 3;
    int scheme = 1;
    TBString notes = L"  keep these  ";
    std::array<int, 2> loads{};
    std::array<int, 2> saves{};
    int extrasBuilt = 0;
    std::vector<std::pair<UINT, UINT>> notified;
};

// The first page: a name that OK needs, a count enabled by a check box, a
// scheme list and a button that chooses a folder as the name.
struct NamesPage : CGenericPropertyPage {
    explicit NamesPage(Record& edited)
        : CGenericPropertyPage(nullptr, NamesTemplate), record(edited) {
        onCommand(ChooseButton, BN_CLICKED, [this] { chooseFolder(); });
        for (const UINT code : {BN_CLICKED, EN_CHANGE, CBN_SELCHANGE})
            onCommandRange(1000, 2000, code, [this, code](UINT id) { changed(id, code); });
    }

    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, NameField, name);
        DDX_Check(pDX, LimitCheck, limit);
        DDX_Control(pDX, SchemeList, schemes);
        if (!pDX->m_bSaveAndValidate && schemes.GetCount() == 0) {
            for (const wchar_t* item : {L"None", L"Daily", L"Hourly"}) schemes.AddString(item);
        }
        DDX_Text(pDX, CountField, count);
        if (!pDX->m_bSaveAndValidate)
            applyRules();
        DDX_CBIndex(pDX, SchemeList, scheme);
    }
    void LoadData() override {
        ++record.loads[0];
        name = record.name;
        count = record.count;
        limit = record.count != 0;
        scheme = record.scheme;
    }
    void SaveData() override {
        ++record.saves[0];
        record.name = name;
        record.count = limit ? count : 0;
        record.scheme = scheme;
    }

    void changed(UINT id, UINT code) {
        record.notified.emplace_back(id, code);
        if (UpdateData(TRUE))
            applyRules();
    }
    void applyRules() {
        GetDlgItem(CountField)->EnableWindow(IsDlgButtonChecked(LimitCheck) == BST_CHECKED);
        GetSheet()->EnableOKButton(!GetDlgItemText(NameField).trimmed().isEmpty());
    }
    void chooseFolder() {
        UpdateData(TRUE);
        CFolderDialog chooser(name, nullptr, nullptr, FOLDER_MUST_EXIST);
        if (chooser.DoModal() != IDOK)
            return;
        name = chooser.GetFolderPath();
        UpdateData(FALSE);
    }

    Record& record;
    TBString name;
    int count = 0;
    int limit = 0;
    int scheme = 0;
    CComboBox schemes;
};

// The second page: notes that saving trims, so a save that should not have
// run shows in the record.
struct ExtrasPage : CGenericPropertyPage {
    explicit ExtrasPage(Record& edited)
        : CGenericPropertyPage(nullptr, ExtrasTemplate), record(edited) {}

    BOOL OnInitDialog() override {
        ++record.extrasBuilt;
        return CGenericPropertyPage::OnInitDialog();
    }
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, NotesField, notes); }
    void LoadData() override {
        ++record.loads[1];
        notes = record.notes;
    }
    void SaveData() override {
        ++record.saves[1];
        record.notes = notes.trimmed();
    }

    Record& record;
    TBString notes;
};

class DialogSheet : public ::testing::Test {
protected:
    void SetUp() override { registerTemplates(); }

    // Runs a sheet of the names page and `extras` extras pages over `record`
    // with the script given to `driver`, from a fresh record of what it shows.
    INT_PTR run(bool wizard = false, int extras = 1) {
        driver.shown.clear();
        CGenericPropertySheet sheet(wizard, 0);
        sheet.AddPage(new NamesPage(record), true);
        for (int i = 0; i < extras; ++i) sheet.AddPage(new ExtrasPage(record), true);
        return sheet.DoModal();
    }

    Record record;
    ScriptedDialogDriver driver;
};

TEST_F(DialogSheet, ConfirmSavesOnlyOpenedPagesWhichKeepTheirValuesBetweenVisits) {
    driver.setText(NameField, L"weekly").confirm();
    EXPECT_EQ(run(), IDOK);
    EXPECT_EQ(record.name, L"weekly");
    EXPECT_EQ(driver.shown[0].control(SchemeList)->text, L"Daily");
    // The extras page was loaded but never opened: its save would have
    // trimmed the notes.
    EXPECT_EQ(record.loads, (std::array<int, 2>{1, 1}));
    EXPECT_EQ(record.saves, (std::array<int, 2>{1, 0}));
    EXPECT_EQ(record.notes, L"  keep these  ");
    EXPECT_EQ(record.extrasBuilt, 0);

    driver.goToPage(1).setText(NotesField, L" a \r\n b ").goToPage(0).goToPage(1).confirm();
    EXPECT_EQ(run(), IDOK);
    EXPECT_EQ(record.extrasBuilt, 1);
    EXPECT_EQ(record.notes, L"a \r\n b");
    EXPECT_EQ(record.saves, (std::array<int, 2>{2, 1}));
    const auto& shown = driver.shown;
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[1].pageCaption, L"Extras");
    // Back on the page, the controls are refilled from the members.
    EXPECT_EQ(shown[4].control(NotesField)->text, L" a \r\n b ");
}

TEST_F(DialogSheet, CancelOrAScriptThatLeavesTheSheetOpenSavesNothing) {
    driver.setText(NameField, L"other").goToPage(1).setText(NotesField, L"new");
    EXPECT_EQ(run(), IDCANCEL);
    EXPECT_EQ(driver.leftOpen, 1);
    driver.setText(NameField, L"other").goToPage(1).setText(NotesField, L"new").cancel();
    EXPECT_EQ(run(), IDCANCEL);
    EXPECT_EQ(driver.leftOpen, 1);
    EXPECT_EQ(record.saves, (std::array<int, 2>{0, 0}));
    EXPECT_EQ(record.name, L"daily");
    EXPECT_EQ(record.notes, L"  keep these  ");
}

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
        driver.setText(CountField, refused).confirm().goToPage(1).cancel();
        EXPECT_EQ(run(), IDCANCEL);
        // OK and leaving the page are refused, naming the field and the text,
        // and the sheet stays open on the page.
        ASSERT_EQ(driver.shown.size(), 5u);
        for (const ScriptedDialogDriver::Shown& refusal : {driver.shown[2], driver.shown[3]}) {
            EXPECT_FALSE(refusal.taken);
            EXPECT_EQ(refusal.page, 0);
            EXPECT_NE(refusal.message.indexOf(L"\"Count\""), -1) << refusal.message.narrow();
            EXPECT_NE(refusal.message.indexOf(L"\"" + refused + L"\""), -1);
            EXPECT_EQ(refusal.control(CountField)->text, refused);
        }
    }
    EXPECT_EQ(record.saves[0], 3);
}

TEST_F(DialogSheet, NotificationsReachThePageWhichDecidesWhatIsEnabled) {
    record.count = 0;
    driver.check(LimitCheck, 1).setText(CountField, L"7").select(SchemeList, 2).click(LimitCheck);
    driver.setText(CountField, L"8").setText(NameField, L"  ").confirm();
    driver.setText(NameField, L"named").confirm();
    EXPECT_EQ(run(), IDOK);
    const std::vector<std::pair<UINT, UINT>> expected{
        {LimitCheck, BN_CLICKED}, {CountField, EN_CHANGE}, {SchemeList, CBN_SELCHANGE},
        {LimitCheck, BN_CLICKED}, {NameField, EN_CHANGE},  {NameField, EN_CHANGE}};
    EXPECT_EQ(record.notified, expected);

    const auto& shown = driver.shown;
    ASSERT_EQ(shown.size(), 10u);
    EXPECT_FALSE(shown[0].control(CountField)->enabled);
    EXPECT_TRUE(shown[1].control(CountField)->enabled);
    EXPECT_EQ(shown[3].control(SchemeList)->text, L"Hourly");
    // The click switched the limit off again: the count is disabled and
    // typing into it is refused.
    EXPECT_FALSE(shown[4].control(CountField)->enabled);
    EXPECT_FALSE(shown[5].taken);
    // A blank name disables OK, which refuses until a name enables it again.
    EXPECT_FALSE(shown[6].okEnabled);
    EXPECT_FALSE(shown[7].taken);
    EXPECT_EQ(record.name, L"named");
    EXPECT_EQ(record.count, 0);
    EXPECT_EQ(record.scheme, 2);
}

TEST_F(DialogSheet, WizardOpensPagesInOrderAndFinishesOnTheLast) {
    driver.goToPage(2).next().back().confirm().goToPage(2).next().next().goToPage(0);
    driver.goToPage(2).confirm();
    EXPECT_EQ(run(true, 2), IDOK);
    std::vector<bool> taken;
    for (const auto& shown : driver.shown) taken.push_back(shown.taken);
    // Skipping ahead and finishing early are refused; opened pages are free.
    EXPECT_EQ(taken, (std::vector<bool>{true, false, true, true, false, false, true, true, true,
                                        true, true}));
    EXPECT_EQ(record.saves, (std::array<int, 2>{1, 2}));
}

TEST_F(DialogSheet, FolderChooserGoesThroughTheDriver) {
    TempDir folder;
    driver.click(ChooseButton).answerFolder(TBString::fromBytes(folder.path()));
    driver.click(ChooseButton).answerFolder(std::nullopt);
    driver.click(ChooseButton).answerFolder(TBString::fromBytes(folder / "missing"));
    driver.click(ChooseButton).confirm();
    EXPECT_EQ(run(), IDOK);
    ASSERT_EQ(driver.folderRequests.size(), 4u);
    EXPECT_EQ(driver.folderRequests[0].startFolder, L"daily");
    EXPECT_EQ(driver.folderRequests[0].flags, FOLDER_MUST_EXIST);
    // Cancelled, not existing and unanswered choices leave the name alone.
    EXPECT_EQ(record.name, TBString::fromBytes(folder.path()));
    EXPECT_EQ(driver.unusedSteps(), 0u);
}

TEST(FileChooser, AsksTheDriverAndHoldsToItsFlags) {
    TempDir folder;
    writeFile(folder / "tool.sh", "#!/bin/sh\n");
    const TBString filter = L"Scripts (*.sh)|*.sh|All Files (*.*)|*.*||";
    ScriptedDialogDriver driver;
    driver.answerFile(TBString::fromBytes(folder / "tool.sh"))
        .answerFile(TBString::fromBytes(folder / "gone.sh"))
        .answerFile(std::nullopt);
    CFileDialog chooser(TRUE, L"", L"", OFN_LONGNAMES | OFN_FILEMUSTEXIST, filter);
    EXPECT_EQ(chooser.DoModal(), IDOK);
    EXPECT_EQ(chooser.GetPathName(), TBString::fromBytes(folder / "tool.sh"));
    EXPECT_EQ(chooser.DoModal(), IDCANCEL);
    EXPECT_EQ(chooser.DoModal(), IDCANCEL);
    ASSERT_EQ(driver.fileRequests.size(), 3u);
    EXPECT_EQ(driver.fileRequests[0].filter, filter);
    EXPECT_TRUE(driver.fileRequests[0].open);
    EXPECT_EQ(driver.fileRequests[0].flags, OFN_LONGNAMES | OFN_FILEMUSTEXIST);
}

// A plain dialog whose Stop button ends it with its own result.
struct PlainDialog : CDialog {
    explicit PlainDialog(UINT templateId = PlainTemplate) : CDialog(templateId) {
        onCommand(ChooseButton, BN_CLICKED, [this] { EndDialog(7); });
    }
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, NameField, name);
        DDX_Text(pDX, 1999, missing);
    }
    TBString name = L"first";
    TBString missing;
};

// A scripted driver that lets the dialog paint its background when it opens.
struct PaintingDriver : ScriptedDialogDriver {
    INT_PTR runModal(ModalSession& session) override {
        EXPECT_TRUE(session.paintBackground(dc));
        return ScriptedDialogDriver::runModal(session);
    }
    CDC dc;
};

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

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
    EXPECT_TRUE(sameRect(driver.dc.operations()[0].rect, RECT{0, 0, 120, 80}));

    driver.setText(NameField, L"third").click(ChooseButton);
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

TEST(Picture, DrawsOnlyAPngImage) {
    const RECT area{0, 0, 640, 480};
    AfxRegisterPicture(9301, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x01});
    AfxRegisterPicture(9302, {'G', 'I', 'F', '8', '9', 'a', 0x00, 0x01, 0x02, 0x03});
    CDC dc;
    CPicture picture;
    for (const UINT missingOrNoPng : {9399u, 9302u}) {
        EXPECT_FALSE(picture.Load(missingOrNoPng));
        EXPECT_FALSE(picture.Render(&dc, area));
    }
    EXPECT_TRUE(dc.operations().empty());

    ASSERT_TRUE(picture.Load(9301, nullptr, nullptr));
    EXPECT_TRUE(picture.Render(&dc, area, nullptr));
    ASSERT_EQ(dc.operations().size(), 1u);
    EXPECT_EQ(dc.operations()[0].kind, CDC::Operation::Kind::DrawPicture);
    EXPECT_EQ(dc.operations()[0].pictureId, 9301u);
    EXPECT_TRUE(sameRect(dc.operations()[0].rect, area));
}

}  // namespace
