#include "mfc/DialogDriver.h"

#include "foundation/TBFileInfo.h"

using terbin::TBString;

namespace {

// Set and read on the user-interface thread only.
DialogDriver* installedDriver = nullptr;

}  // namespace

void AfxSetDialogDriver(DialogDriver* driver) {
    installedDriver = driver;
}

DialogDriver* AfxGetDialogDriver() {
    return installedDriver;
}

CFileDialog::CFileDialog(BOOL openFileDialog, const TBString& defaultExtension,
                         const TBString& fileName, DWORD flags, const TBString& filter,
                         CWnd* /*parent*/, DWORD /*size*/, BOOL /*vistaStyle*/)
    : open_(openFileDialog != FALSE),
      defaultExtension_(defaultExtension),
      fileName_(fileName),
      flags_(flags),
      filter_(filter) {}

INT_PTR CFileDialog::DoModal() {
    DialogDriver* driver = AfxGetDialogDriver();
    if (!driver)
        return IDCANCEL;
    const std::optional<TBString> chosen =
        driver->chooseFile(FileChoice{open_, filter_, defaultExtension_, fileName_, flags_});
    if (!chosen || chosen->isEmpty())
        return IDCANCEL;
    if (open_ && (flags_ & OFN_FILEMUSTEXIST) && !terbin::TBFileInfo::isFile(*chosen))
        return IDCANCEL;
    path_ = *chosen;
    return IDOK;
}
