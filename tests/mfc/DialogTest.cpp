#include <gtest/gtest.h>

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
constexpr int LogCheck = 1002;

ControlRecord control(int id, ControlKind kind, const TBString& label) {
    ControlRecord record;
    record.id = id;
    record.kind = kind;
    record.label = label;
    return record;
}

void registerTemplates() {
    AfxRegisterDialogTemplate({NamesTemplate,
                               L"Names",
                               300,
                               200,
                               {control(NameField, ControlKind::Edit, L"&Name:"),
                                control(CountField, ControlKind::Edit, L"&Count:"),
                                control(LimitCheck, ControlKind::CheckBox, L"&Limit the count"),
                                control(SchemeList, ControlKind::ComboBox, L"&Scheme:"),
                                control(ChooseButton, ControlKind::Button, L"C&hoose...")}});
    AfxRegisterDialogTemplate({ExtrasTemplate,
                               L"Extras",
                               300,
                               200,
                               {control(NotesField, ControlKind::MultiLineEdit, L"&Notes:"),
                                control(LogCheck, ControlKind::CheckBox, L"&Write a log")}});
    AfxRegisterDialogTemplate({PlainTemplate,
                               L"Plain",
                               120,
                               80,
                               {control(NameField, ControlKind::Edit, L"Name:"),
                                control(ChooseButton, ControlKind::Button, L"Stop"),
                                control(IDOK, ControlKind::Button, L"OK"),
                                control(IDCANCEL, ControlKind::Button, L"Cancel")}});
}

// What the test sheet edits, with a count of the loads and saves of each page.
struct Record {
    TBString name = L"daily";
    int count = 3;
    int scheme = 1;
    TBString notes = L"  keep these  ";
    int log = 1;
    int loads[2] = {0, 0};
    int saves[2] = {0, 0};
};

class TestSheet : public CGenericPropertySheet {
public:
    TestSheet(bool wizard, Record& edited) : CGenericPropertySheet(wizard, 0), record(edited) {}
    Record& record;
};

// The first page: a name that OK needs, a count enabled by a check box, a
// scheme list and a button that chooses a folder as the name.
class NamesPage : public CGenericPropertyPage {
public:
    NamesPage() : CGenericPropertyPage(nullptr, NamesTemplate, 0, 0) {
        onCommandRange(1000, 2000, EN_CHANGE, [this](UINT id) { changed(id, EN_CHANGE); });
        onCommandRange(1000, 2000, CBN_SELCHANGE, [this](UINT id) { changed(id, CBN_SELCHANGE); });
        onCommandRange(1000, 2000, BN_CLICKED, [this](UINT id) {
            if (id == ChooseButton)
                chooseFolder();
            else
                changed(id, BN_CLICKED);
        });
    }

    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, NameField, name);
        DDX_Check(pDX, LimitCheck, limit);
        DDX_Control(pDX, SchemeList, schemes);
        if (!pDX->m_bSaveAndValidate && schemes.GetCount() == 0) {
            schemes.AddString(L"None");
            schemes.AddString(L"Daily");
            schemes.AddString(L"Hourly");
        }
        DDX_Text(pDX, CountField, count);
        if (!pDX->m_bSaveAndValidate)
            applyRules();
        DDX_CBIndex(pDX, SchemeList, scheme);
    }

    void LoadData() override {
        Record& record = edited();
        ++record.loads[0];
        name = record.name;
        count = record.count;
        limit = record.count != 0;
        scheme = record.scheme;
    }

    void SaveData() override {
        Record& record = edited();
        ++record.saves[0];
        record.name = name;
        record.count = limit ? count : 0;
        record.scheme = scheme;
    }

    std::vector<std::pair<UINT, UINT>> notifications;
    TBString name;
    int count = 0;
    int limit = 0;
    int scheme = 0;
    CComboBox schemes;

private:
    Record& edited() { return static_cast<TestSheet*>(GetSheet())->record; }

    void changed(UINT id, UINT code) {
        notifications.emplace_back(id, code);
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
};

// The second page: notes that saving trims, so a save that should not have
// run shows in the record.
class ExtrasPage : public CGenericPropertyPage {
public:
    ExtrasPage() : CGenericPropertyPage(nullptr, ExtrasTemplate, 0, 0) {}

    BOOL OnInitDialog() override {
        ++initialisations;
        return CGenericPropertyPage::OnInitDialog();
    }
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, NotesField, notes);
        DDX_Check(pDX, LogCheck, log);
    }
    void LoadData() override {
        Record& record = static_cast<TestSheet*>(GetSheet())->record;
        ++record.loads[1];
        notes = record.notes;
        log = record.log;
    }
    void SaveData() override {
        Record& record = static_cast<TestSheet*>(GetSheet())->record;
        ++record.saves[1];
        record.notes = notes.trimmed();
        record.log = log;
    }

    int initialisations = 0;
    TBString notes;
    int log = 0;
};

class DialogSheet : public ::testing::Test {
protected:
    void SetUp() override { registerTemplates(); }

    // Runs a two-page sheet over `record` with the script given to `driver`.
    INT_PTR run(bool wizard = false) {
        TestSheet sheet(wizard, record);
        names = new NamesPage;
        extras = new ExtrasPage;
        sheet.AddPage(names, true);
        sheet.AddPage(extras, true);
        const INT_PTR result = sheet.DoModal();
        namesNotifications = names->notifications;
        extrasInitialisations = extras->initialisations;
        names = nullptr;
        extras = nullptr;
        return result;
    }

    Record record;
    ScriptedDialogDriver driver;
    NamesPage* names = nullptr;
    ExtrasPage* extras = nullptr;
    std::vector<std::pair<UINT, UINT>> namesNotifications;
    int extrasInitialisations = 0;
};

TEST_F(DialogSheet, LoadsEveryPageAndSavesOnlyOpenedPagesOnConfirm) {
    driver.setText(NameField, L"weekly").confirm();
    EXPECT_EQ(run(), IDOK);
    EXPECT_EQ(record.loads[0], 1);
    EXPECT_EQ(record.loads[1], 1);
    EXPECT_EQ(record.name, L"weekly");
    EXPECT_EQ(record.saves[0], 1);
    // The extras page was loaded but never opened: its save would have
    // trimmed the notes.
    EXPECT_EQ(record.saves[1], 0);
    EXPECT_EQ(record.notes, L"  keep these  ");
    EXPECT_EQ(extrasInitialisations, 0);
}

TEST_F(DialogSheet, CancelSavesNothingEvenAfterChangesOnEveryPage) {
    driver.setText(NameField, L"other").goToPage(1).setText(NotesField, L"new").check(LogCheck, 0);
    driver.cancel();
    EXPECT_EQ(run(), IDCANCEL);
    EXPECT_EQ(record.saves[0] + record.saves[1], 0);
    EXPECT_EQ(record.name, L"daily");
    EXPECT_EQ(record.notes, L"  keep these  ");
    EXPECT_EQ(record.log, 1);

    // A script that ends with the sheet still open cancels it too.
    Record untouched;
    record = untouched;
    driver.setText(NameField, L"left open");
    EXPECT_EQ(run(), IDCANCEL);
    EXPECT_EQ(driver.leftOpen, 1);
    EXPECT_EQ(record.name, L"daily");
}

TEST_F(DialogSheet, PagesOpenInAnyOrderAndKeepTheirValues) {
    driver.goToPage(1).setText(NotesField, L" a \r\n b ").goToPage(0).goToPage(1).confirm();
    EXPECT_EQ(run(), IDOK);
    EXPECT_EQ(extrasInitialisations, 1);
    EXPECT_EQ(record.notes, L"a \r\n b");
    EXPECT_EQ(record.saves[0], 1);
    EXPECT_EQ(record.saves[1], 1);

    const auto& shown = driver.shown;
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0].pageCaption, L"Names");
    EXPECT_EQ(shown[1].pageCaption, L"Extras");
    // Back on the page, the controls are refilled from the members.
    EXPECT_EQ(shown[4].page, 1);
    EXPECT_EQ(shown[4].control(NotesField)->text, L" a \r\n b ");
    EXPECT_EQ(shown[4].control(LogCheck)->check, 1);
    EXPECT_EQ(shown[0].control(SchemeList)->text, L"Daily");
}

TEST_F(DialogSheet, NumberFieldRefusesTextThatIsNoWholeNumberAndKeepsTheSheetOpen) {
    driver.setText(CountField, L"12x").confirm().goToPage(1).setText(CountField, L"99999999999");
    driver.confirm().setText(CountField, L" -42 ").confirm();
    EXPECT_EQ(run(), IDOK);
    EXPECT_EQ(record.count, -42);
    EXPECT_EQ(record.saves[0], 1);

    const auto& shown = driver.shown;
    ASSERT_EQ(shown.size(), 8u);
    // Typing runs the page's update, which refuses the text already.
    EXPECT_TRUE(shown[1].taken);
    for (const int refused : {2, 3, 5}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(shown[refused].taken);
        EXPECT_FALSE(shown[refused].ended);
        EXPECT_EQ(shown[refused].page, 0);
        EXPECT_NE(shown[refused].message.indexOf(L"\"Count\""), -1)
            << shown[refused].message.narrow();
    }
    EXPECT_NE(shown[2].message.indexOf(L"12x"), -1);
    EXPECT_NE(shown[5].message.indexOf(L"99999999999"), -1);
    EXPECT_EQ(shown[2].control(CountField)->text, L"12x");
    EXPECT_TRUE(shown[7].taken);
    EXPECT_TRUE(shown[7].message.isEmpty());
}

TEST_F(DialogSheet, NumberFieldTakesTheEndsOfTheSignedRange) {
    for (const int value : {INT_MIN, INT_MAX}) {
        driver.setText(CountField, TBString::valueOf(value)).confirm();
        EXPECT_EQ(run(), IDOK);
        EXPECT_EQ(record.count, value);
    }
    for (const wchar_t* const refused :
         {L"2147483648", L"-2147483649", L"", L"-", L"1 2", L"0x10"}) {
        driver.setText(CountField, refused).confirm().cancel();
        EXPECT_EQ(run(), IDCANCEL) << TBString(refused).narrow();
        EXPECT_FALSE(driver.shown[driver.shown.size() - 2].taken) << TBString(refused).narrow();
    }
}

TEST_F(DialogSheet, NotificationsReachThePageWhichDecidesWhatIsEnabled) {
    record.count = 0;
    driver.check(LimitCheck, 1).setText(CountField, L"7").select(SchemeList, 2).click(LimitCheck);
    driver.setText(CountField, L"8").confirm();
    EXPECT_EQ(run(), IDOK);
    const std::vector<std::pair<UINT, UINT>> expected{{LimitCheck, BN_CLICKED},
                                                      {CountField, EN_CHANGE},
                                                      {SchemeList, CBN_SELCHANGE},
                                                      {LimitCheck, BN_CLICKED}};
    EXPECT_EQ(namesNotifications, expected);

    const auto& shown = driver.shown;
    EXPECT_FALSE(shown[0].control(CountField)->enabled);
    EXPECT_TRUE(shown[1].control(CountField)->enabled);
    EXPECT_EQ(shown[3].control(SchemeList)->text, L"Hourly");
    // The click switched the limit off again: the count is disabled, typing
    // into it is refused, and the saved count is 0.
    EXPECT_FALSE(shown[4].control(CountField)->enabled);
    EXPECT_FALSE(shown[5].taken);
    EXPECT_NE(shown[5].message.indexOf(L"not available"), -1);
    EXPECT_EQ(record.count, 0);
    EXPECT_EQ(record.scheme, 2);
}

TEST_F(DialogSheet, DisabledOkRefusesConfirmUntilThePageEnablesItAgain) {
    driver.setText(NameField, L"  ").confirm().setText(NameField, L"named").confirm();
    EXPECT_EQ(run(), IDOK);
    const auto& shown = driver.shown;
    EXPECT_FALSE(shown[1].okEnabled);
    EXPECT_FALSE(shown[2].taken);
    EXPECT_FALSE(shown[2].message.isEmpty());
    EXPECT_TRUE(shown[3].okEnabled);
    EXPECT_EQ(record.name, L"named");
    EXPECT_EQ(record.saves[0], 1);
}

TEST_F(DialogSheet, WizardPassesPagesInOrderAndFinishesOnTheLast) {
    driver.next().back().confirm().next().confirm();
    EXPECT_EQ(run(true), IDOK);
    const auto& shown = driver.shown;
    EXPECT_TRUE(shown[1].taken);
    EXPECT_TRUE(shown[2].taken);
    EXPECT_FALSE(shown[3].taken);
    EXPECT_EQ(record.saves[1], 1);

    TestSheet sheet(true, record);
    NamesPage first;
    ExtrasPage second;
    ExtrasPage third;
    sheet.AddPage(&first, false);
    sheet.AddPage(&second, false);
    sheet.AddPage(&third, false);
    driver.goToPage(2).goToPage(1).goToPage(2).confirm();
    EXPECT_EQ(sheet.DoModal(), IDOK);
    EXPECT_FALSE(driver.shown[driver.shown.size() - 4].taken);
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
    EXPECT_EQ(driver.folderRequests[1].startFolder, TBString::fromBytes(folder.path()));
    EXPECT_EQ(driver.folderRequests[0].flags, FOLDER_MUST_EXIST);
    // Cancelled, not existing and unanswered choices leave the name alone.
    EXPECT_EQ(record.name, TBString::fromBytes(folder.path()));
    EXPECT_EQ(driver.unusedSteps(), 0u);
}

TEST(FileChooser, AsksTheDriverAndHoldsToItsFlags) {
    TempDir folder;
    writeFile(folder / "tool.sh", "#!/bin/sh\n");
    const TBString filter = L"Scripts (*.sh)|*.sh|All Files (*.*)|*.*||";
    {
        CFileDialog chooser(TRUE, L"", L"", OFN_LONGNAMES | OFN_FILEMUSTEXIST, filter);
        EXPECT_EQ(chooser.DoModal(), IDCANCEL);
    }
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
    EXPECT_EQ(driver.fileRequests[0].flags, 0x201000u);
}

// A plain dialog whose Stop button ends it with its own result.
class PlainDialog : public CDialog {
public:
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

TEST(PlainDialogRun, DoModalGivesTheDriversResult) {
    registerTemplates();
    PlainDialog dialog;
    EXPECT_EQ(dialog.DoModal(), -1);

    ScriptedDialogDriver driver;
    driver.setText(NameField, L"second").click(IDOK);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.name, L"second");
    EXPECT_EQ(driver.shown[0].caption, L"Plain");
    EXPECT_EQ(driver.shown[0].control(NameField)->text, L"first");

    driver.setText(NameField, L"third").click(ChooseButton);
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_EQ(dialog.name, L"second");

    driver.click(IDCANCEL);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(driver.sessions, 3);

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

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(Painting, PictureDrawsOnlyWhenItHoldsAnImage) {
    const RECT area{0, 0, 640, 480};
    AfxRegisterPicture(9301, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x01});
    AfxRegisterPicture(9302, {'G', 'I', 'F', '8', '9', 'a', 0x00, 0x01, 0x02, 0x03});

    CDC dc;
    CPicture empty;
    EXPECT_FALSE(empty.Load(9399));
    EXPECT_FALSE(empty.Load(9302));
    EXPECT_FALSE(empty.hasImage());
    EXPECT_FALSE(empty.Render(&dc, area));
    EXPECT_TRUE(dc.operations().empty());

    CPicture picture;
    ASSERT_TRUE(picture.Load(9301, nullptr, nullptr));
    EXPECT_TRUE(picture.Render(&dc, area, nullptr));
    ASSERT_EQ(dc.operations().size(), 1u);
    EXPECT_EQ(dc.operations()[0].kind, CDC::Operation::Kind::DrawPicture);
    EXPECT_EQ(dc.operations()[0].pictureId, 9301u);
    EXPECT_TRUE(sameRect(dc.operations()[0].rect, area));

    // A dialog that paints nothing itself gets the face colour over its area.
    registerTemplates();
    PlainDialog dialog;
    ScriptedDialogDriver driver;
    CDC background;
    struct Painter : DialogDriver {
        CDC& dc;
        explicit Painter(CDC& target) : dc(target) {}
        INT_PTR runModal(ModalSession& session) override {
            session.paintBackground(dc);
            session.cancel();
            return session.result();
        }
        std::optional<TBString> chooseFolder(const FolderChoice&) override { return {}; }
        std::optional<TBString> chooseFile(const FileChoice&) override { return {}; }
    } painter(background);
    AfxSetDialogDriver(&painter);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    AfxSetDialogDriver(&driver);
    ASSERT_EQ(background.operations().size(), 1u);
    EXPECT_EQ(background.operations()[0].colour, DIALOG_FACE_COLOUR);
    EXPECT_TRUE(sameRect(background.operations()[0].rect, RECT{0, 0, 120, 80}));
}

}  // namespace
