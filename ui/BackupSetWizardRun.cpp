#include "resource/resource.h"
#include "ui/BackupSetWizard.h"
#include "ui/BackupSetWizardPages.h"

using terbin::TBString;

namespace {

// The fields of one script in the set.
struct ScriptFields {
    int32_t BackupSet::*enabled;
    TBString BackupSet::*program;
    TBString BackupSet::*arguments;
    int32_t BackupSet::*wait;
    int32_t BackupSet::*ignoreStatus;
    int32_t BackupSet::*useTimeout;
    int32_t BackupSet::*timeoutMs;
    // The tab's caption and the run check's label.
    UINT caption;
    UINT runLabel;
};

constexpr ScriptFields Scripts[] = {
    {&BackupSet::preBackupEnabled, &BackupSet::preBackupProgram, &BackupSet::preBackupArgs,
     &BackupSet::preBackupWaitForCompletion, &BackupSet::preBackupIgnoreStatus,
     &BackupSet::preBackupTimeout, &BackupSet::preBackupTimeoutMS, IDS_PRE_BACKUP_PAGE,
     IDS_RUN_PRE_BACKUP},
    {&BackupSet::postBackupEnabled, &BackupSet::postBackupProgram, &BackupSet::postBackupArgs,
     &BackupSet::postBackupWaitForCompletion, &BackupSet::postBackupIgnoreStatus,
     &BackupSet::postBackupTimeout, &BackupSet::postBackupTimeoutMS, IDS_POST_BACKUP_PAGE,
     IDS_RUN_POST_BACKUP},
};

// A program here may be any file (a script needs no extension), so the
// chooser offers every file.
const wchar_t* const ProgramFilter = L"All Files (*)|*||";

}  // namespace

BackupSetWizardRun::BackupSetWizardRun(Script script)
    : CGenericPropertyPage(nullptr, IDD_WIZARD_RUN), script_(script) {
    SetCaption(Scripts[script_].caption);
    onCommandRange(1000, 2000, EN_CHANGE, [this](UINT) { onChange(); });
    onCommandRange(1000, 2000, CBN_SELCHANGE, [this](UINT) { onChange(); });
    onCommandRange(1000, 2000, BN_CLICKED, [this](UINT id) { onClick(id); });
}

BackupSetWizardRun::~BackupSetWizardRun() = default;

BOOL BackupSetWizardRun::OnInitDialog() {
    GetDlgItem(IDC_RUN)->SetWindowText(AfxLoadString(Scripts[script_].runLabel));
    return CGenericPropertyPage::OnInitDialog();
}

void BackupSetWizardRun::DoDataExchange(CDataExchange* pDX) {
    CGenericPropertyPage::DoDataExchange(pDX);
    DDX_Check(pDX, IDC_RUN, enabled_);
    DDX_Text(pDX, IDC_PROGRAM, program_);
    DDX_Text(pDX, IDC_ARGUMENTS, arguments_);
    DDX_Check(pDX, IDC_WAIT, wait_);
    DDX_Check(pDX, IDC_IGNORE_STATUS, ignoreStatus_);
    DDX_Check(pDX, IDC_USE_TIMEOUT, useTimeout_);
    // Last: a refused time-out ends the exchange, the others are read.
    DDX_Text(pDX, IDC_TIMEOUT, timeoutMs_);
    applyRules();
}

void BackupSetWizardRun::applyRules() {
    const bool run = enabled_ != 0;
    const bool waits = run && wait_ != 0;
    const bool timed = waits && useTimeout_ != 0;
    for (const int id :
         {IDC_CHOOSE_PROGRAM, IDC_WAIT, IDC_PROGRAM, IDC_ARGUMENTS, IDC_ARGUMENTS_NOTE})
        GetDlgItem(id)->EnableWindow(run);
    for (const int id : {IDC_USE_TIMEOUT, IDC_IGNORE_STATUS}) GetDlgItem(id)->EnableWindow(waits);
    for (const int id : {IDC_TIMEOUT, IDC_TIMEOUT_UNIT}) GetDlgItem(id)->EnableWindow(timed);
}

// Program and arguments are kept as typed: they are a command, not a path
// of the set's own.
void BackupSetWizardRun::LoadData() {
    const BackupSet& set = BackupSetWizard::backupSetOf(*this);
    const ScriptFields& fields = Scripts[script_];
    enabled_ = set.*fields.enabled;
    program_ = set.*fields.program;
    arguments_ = set.*fields.arguments;
    wait_ = set.*fields.wait;
    ignoreStatus_ = set.*fields.ignoreStatus;
    useTimeout_ = set.*fields.useTimeout;
    timeoutMs_ = set.*fields.timeoutMs;
}

void BackupSetWizardRun::SaveData() {
    BackupSet& set = BackupSetWizard::backupSetOf(*this);
    const ScriptFields& fields = Scripts[script_];
    set.*fields.enabled = enabled_;
    set.*fields.program = program_;
    set.*fields.arguments = arguments_;
    set.*fields.wait = wait_;
    set.*fields.ignoreStatus = ignoreStatus_;
    set.*fields.useTimeout = useTimeout_;
    set.*fields.timeoutMs = timeoutMs_;
    set.modified = true;
}

void BackupSetWizardRun::onChange() {
    UpdateData(TRUE);
    SetModified(TRUE);
}

void BackupSetWizardRun::onClick(UINT id) {
    UpdateData(TRUE);
    if (id == IDC_CHOOSE_PROGRAM)
        chooseProgram();
}

void BackupSetWizardRun::chooseProgram() {
    CFileDialog chooser(TRUE, TBString(), TBString(), OFN_LONGNAMES | OFN_FILEMUSTEXIST,
                        ProgramFilter, this, 0, TRUE);
    if (chooser.DoModal() != IDOK)
        return;
    program_ = chooser.GetPathName();
    // Shown at once: the next read of the controls would otherwise put the
    // old text back over the choice.
    UpdateData(FALSE);
    SetModified(TRUE);
}
