#include "ui/BackupSetWizard.h"

#include "base/ULVConfig.h"
#include "foundation/TBFolder.h"
#include "foundation/TBResourceGuard.h"
#include "resource/resource.h"
#include "ui/BackupSetWizardPages.h"

using terbin::TBString;

BackupSetWizard::BackupSetWizard(BackupSet* set)
    : CGenericPropertySheet(false, IDS_WIZARD_CAPTION, nullptr), set_(set) {
    AddPage(new BackupSetWizardTarget(), true);
    AddPage(new BackupSetWizardSource(), true);
    AddPage(new BackupSetWizardRun(BackupSetWizardRun::PreBackup), true);
    AddPage(new BackupSetWizardRun(BackupSetWizardRun::PostBackup), true);
    AddPage(new BackupSetWizardOptions(), true);
}

BackupSetWizard::~BackupSetWizard() = default;

BackupSet& BackupSetWizard::backupSetOf(const CGenericPropertyPage& page) {
    return static_cast<BackupSetWizard*>(page.GetSheet())->backupSet();
}

void WizardEditor::edit(BackupSet& set) {
    // The pages load their templates and strings through the process-wide
    // resource handle: hold it for the whole run.
    const terbin::TBResourceGuard resources;
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    folderToCreate_ = TBString();
    set.modified = false;
    BackupSetWizard wizard(&set);
    wizard.DoModal();
    if (set.modified)
        folderToCreate_ = wizard.folderToCreate();
}

TBString WizardEditor::saved(const BackupSet& set) {
    const TBString folder = folderToCreate_;
    folderToCreate_ = TBString();
    if (folder.isEmpty() || set.targetFolder != folder)
        return TBString();
    // Only the folder itself: a missing parent may be the mount point of a
    // drive that is not plugged in, and is not rebuilt on the system disk.
    const uint32_t made = terbin::TBFolder::create(theAppConfig.fix(folder), false);
    if (made == 0)
        return TBString();
    return L"the target folder " + folder + L" could not be made (error " +
           TBString::valueOf(made) + L"): runs of " + set.backupName + L" fail until it is there";
}
