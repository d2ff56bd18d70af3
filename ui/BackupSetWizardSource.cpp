#include "base/ULVConfig.h"
#include "foundation/TBTokenizer.h"
#include "resource/resource.h"
#include "ui/BackupSetWizard.h"
#include "ui/BackupSetWizardPages.h"

using terbin::TBString;
using terbin::TBStringArray;

namespace {

const wchar_t* const LineBreak = L"\r\n";

// The entries of `list`, one per line.
TBString joinLines(const TBStringArray& list) {
    TBString text;
    for (const TBString& entry : list) {
        if (!text.isEmpty())
            text += LineBreak;
        text += entry;
    }
    return text;
}

// Calls `visit` with each line of `text` that is not empty; lines end at CR
// or LF, so "\r\n", "\n" and "\r" all break them.
template <typename Visitor>
void forEachLine(const TBString& text, Visitor&& visit) {
    terbin::TBTokenizer lines(LineBreak, true, false, 0);
    lines.setString(text);
    while (lines.hasMoreTokens()) {
        if (!visit(lines.nextToken()))
            return;
    }
}

// Replaces `list` with the lines of `text`, each normalised.
void storeLines(const TBString& text, TBStringArray& list) {
    list.clear();
    forEachLine(text, [&](const TBString& line) {
        list.add(theAppConfig.fix(line));
        return true;
    });
}

}  // namespace

BackupSetWizardSource::BackupSetWizardSource() : CGenericPropertyPage(nullptr, IDD_WIZARD_SOURCE) {
    onCommandRange(1000, 2000, EN_CHANGE, [this](UINT) { onChange(); });
    onCommandRange(1000, 2000, BN_CLICKED, [this](UINT id) { onClick(id); });
}

BackupSetWizardSource::~BackupSetWizardSource() = default;

void BackupSetWizardSource::DoDataExchange(CDataExchange* pDX) {
    CGenericPropertyPage::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_SOURCES, sources_);
    DDX_Text(pDX, IDC_INCLUDE_FILES, includeFiles_);
    DDX_Text(pDX, IDC_EXCLUDE_FILES, excludeFiles_);
    DDX_Text(pDX, IDC_EXCLUDE_FOLDERS, excludeFolders_);
}

void BackupSetWizardSource::LoadData() {
    const BackupSet& set = BackupSetWizard::backupSetOf(*this);
    sources_ = joinLines(set.sourceFolders);
    includeFiles_ = joinLines(set.includeFiles);
    excludeFiles_ = joinLines(set.excludeFiles);
    excludeFolders_ = joinLines(set.excludeFolders);
}

void BackupSetWizardSource::SaveData() {
    BackupSet& set = BackupSetWizard::backupSetOf(*this);
    storeLines(sources_, set.sourceFolders);
    storeLines(includeFiles_, set.includeFiles);
    storeLines(excludeFiles_, set.excludeFiles);
    storeLines(excludeFolders_, set.excludeFolders);
    set.modified = true;
}

void BackupSetWizardSource::onChange() {
    UpdateData(TRUE);
    SetModified(TRUE);
}

void BackupSetWizardSource::onClick(UINT id) {
    UpdateData(TRUE);
    if (id == IDC_ADD_SOURCE)
        addSourceFolder();
    else
        SetModified(TRUE);
}

// A folder already listed, but for letter case, is not added again and does
// not mark the page changed.
void BackupSetWizardSource::addSourceFolder() {
    CFolderDialog chooser(TBString(), TBString(), nullptr, FOLDER_MUST_EXIST);
    if (chooser.DoModal() != IDOK)
        return;
    const TBString folder = theAppConfig.fix(chooser.GetFolderPath());
    bool listed = false;
    forEachLine(sources_, [&](const TBString& line) {
        listed = line.equalsNoCase(folder);
        return !listed;
    });
    if (listed)
        return;
    if (!sources_.isEmpty())
        sources_ += LineBreak;
    sources_ += folder;
    UpdateData(FALSE);
    SetModified(TRUE);
}
