#include "base/ULVConfig.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "mfc/DialogDriver.h"
#include "resource/resource.h"
#include "ui/BackupSetWizard.h"
#include "ui/BackupSetWizardPages.h"

using terbin::TBString;

namespace {

// The subfolder schemes in BackupType order: an item's index is its value.
constexpr const wchar_t* SchemeNames[] = {L"None", L"Backup date", L"Backup date and time"};

}  // namespace

BackupSetWizardTarget::BackupSetWizardTarget() : CGenericPropertyPage(nullptr, IDD_WIZARD_TARGET) {
    onCommandRange(1000, 2000, EN_CHANGE, [this](UINT) { onChange(); });
    onCommandRange(1000, 2000, CBN_SELCHANGE, [this](UINT) { onChange(); });
    onCommandRange(1000, 2000, BN_CLICKED, [this](UINT id) { onClick(id); });
}

BackupSetWizardTarget::~BackupSetWizardTarget() = default;

void BackupSetWizardTarget::DoDataExchange(CDataExchange* pDX) {
    CGenericPropertyPage::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_NAME, name_);
    DDX_Check(pDX, IDC_TARGET_GIVEN, targetGiven_);
    DDX_Text(pDX, IDC_TARGET, target_);
    DDX_Check(pDX, IDC_FULL_PATH, fullPath_);
    DDX_Check(pDX, IDC_LIMIT_COUNT, limitCount_);
    DDX_Check(pDX, IDC_ADD_COMPUTER, addComputer_);
    DDX_Check(pDX, IDC_ADD_SET_FOLDER, addSetFolder_);
    // The count is the one value that can be refused, and a refusal ends
    // the exchange: it comes after the others, so they are still read.
    DDX_Text(pDX, IDC_COUNT, count_);
    DDX_Control(pDX, IDC_SCHEME, schemeList_);
    if (!pDX->m_bSaveAndValidate && schemeList_.GetCount() == 0) {
        for (const wchar_t* name : SchemeNames) schemeList_.AddString(name);
    }
    // The index goes last, once the list holds its items.
    DDX_CBIndex(pDX, IDC_SCHEME, scheme_);
    applyRules();
}

void BackupSetWizardTarget::applyRules() {
    GetSheet()->EnableOKButton(!name_.isEmpty() && (!target_.isEmpty() || targetGiven_ == 0));
    const bool dated = scheme_ > NoSubfolder;
    GetDlgItem(IDC_LIMIT_COUNT)->EnableWindow(dated);
    GetDlgItem(IDC_COUNT)->EnableWindow(dated && limitCount_ != 0);
    GetDlgItem(IDC_TARGET)->EnableWindow(targetGiven_ != 0);
}

BOOL BackupSetWizardTarget::OnKillActive() {
    if (!CGenericPropertyPage::OnKillActive())
        return FALSE;
    CDataExchange refusal(this, TRUE);
    // An empty name is left to the OK rule, so the other pages can be
    // filled first.
    if (!name_.isEmpty() && !BackupSet::isPlainName(name_)) {
        refusal.Fail(IDC_NAME, L"\"" + name_ +
                                   L"\" cannot name a backup set: the name becomes a folder name, "
                                   L"so it must not be \".\" or \"..\" nor hold \"/\" or control "
                                   L"characters.");
        return FALSE;
    }
    // A count below one is stored as no limit at all, which is not what a
    // person who asked for a limit means.
    if (scheme_ > NoSubfolder && limitCount_ != 0 && count_ < 1) {
        refusal.Fail(IDC_COUNT,
                     L"\"Number of backup subfolders to keep\" must be 1 or more; to "
                     L"keep every backup, clear \"Keep only a number of backup "
                     L"subfolders\".");
        return FALSE;
    }
    return TRUE;
}

BOOL BackupSetWizardTarget::OnApply() {
    const BOOL applied = CGenericPropertyPage::OnApply();
    askToCreateMissingTarget();
    return applied;
}

// Asked only for a full path whose parent folder is there: a relative one
// would be made wherever the program happens to run, and a missing parent
// may be a drive that is not plugged in. The folder is made after the set
// is saved (WizardEditor::saved).
void BackupSetWizardTarget::askToCreateMissingTarget() {
    auto* wizard = static_cast<BackupSetWizard*>(GetSheet());
    wizard->setFolderToCreate(TBString());
    const TBString folder = theAppConfig.fix(target_);
    if (targetGiven_ == 0 || !folder.startsWith(L"/") || terbin::TBFileInfo::isFolder(folder) ||
        terbin::TBFileInfo::isFile(folder) ||
        !terbin::TBFileInfo::isFolder(terbin::TBFilename::dirname(folder)))
        return;
    DialogDriver* driver = AfxGetDialogDriver();
    if (driver && driver->askYesNo(L"The target folder " + folder +
                                   L" does not exist. Make it when the backup set is saved?"))
        wizard->setFolderToCreate(target_);
}

void BackupSetWizardTarget::LoadData() {
    const BackupSet& set = BackupSetWizard::backupSetOf(*this);
    name_ = set.backupName;
    target_ = set.targetFolder;
    targetGiven_ = set.targetFolder.isEmpty() ? 0 : 1;
    scheme_ = set.backupType;
    fullPath_ = set.backupFullPath;
    limitCount_ = set.backupFolderCount != 0 ? 1 : 0;
    count_ = set.backupFolderCount;
    addComputer_ = set.backupAddComputerFolder;
    addSetFolder_ = set.backupAddBackupSetFolder;
}

void BackupSetWizardTarget::SaveData() {
    BackupSet& set = BackupSetWizard::backupSetOf(*this);
    set.backupName = name_;
    // A scheme the list does not know (from a hand-edited registry) shows
    // no selection; it is kept rather than stored as -1.
    if (scheme_ >= 0)
        set.backupType = scheme_;
    set.backupFullPath = fullPath_;
    set.backupAddComputerFolder = addComputer_;
    set.backupAddBackupSetFolder = addSetFolder_;
    set.targetFolder = targetGiven_ != 0 ? target_ : TBString();
    set.backupFolderCount = limitCount_ != 0 ? count_ : 0;
    set.modified = true;
}

void BackupSetWizardTarget::onChange() {
    UpdateData(TRUE);
    SetModified(TRUE);
    applyRules();
}

void BackupSetWizardTarget::onClick(UINT id) {
    UpdateData(TRUE);
    if (id == IDC_CHOOSE_TARGET) {
        chooseTarget();
        return;
    }
    SetModified(TRUE);
    applyRules();
}

void BackupSetWizardTarget::chooseTarget() {
    CFolderDialog chooser(target_, TBString(), nullptr, FOLDER_MUST_EXIST);
    if (chooser.DoModal() != IDOK)
        return;
    const TBString folder = theAppConfig.fix(chooser.GetFolderPath());
    if (folder == target_)
        return;
    target_ = folder;
    UpdateData(FALSE);
    SetModified(TRUE);
    applyRules();
}
