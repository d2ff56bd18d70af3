#include "mfc/DialogDriver.h"
#include "mfc/afxdlgs.h"

using terbin::TBString;

CPropertyPage::CPropertyPage(UINT templateId, UINT captionId) : CDialog(templateId) {
    if (captionId != 0)
        caption_ = AfxLoadString(captionId);
}

BOOL CPropertyPage::OnSetActive() {
    if (activatedBefore_)
        UpdateData(FALSE);
    activatedBefore_ = true;
    return TRUE;
}

BOOL CPropertyPage::OnKillActive() {
    return UpdateData(TRUE);
}

BOOL CPropertyPage::OnApply() {
    return TRUE;
}

void CPropertyPage::OnCancel() {}

TBString CPropertyPage::caption() const {
    return caption_.isEmpty() ? GetWindowText() : caption_;
}

CPropertySheet::CPropertySheet(UINT captionId, CWnd* /*parent*/, UINT selectPage)
    : caption_(AfxLoadString(captionId)), active_(static_cast<int>(selectPage)) {}

CPropertySheet::~CPropertySheet() = default;

void CPropertySheet::AddPage(CPropertyPage* page) {
    if (page)
        pages_.push_back(page);
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
    return index >= 0 && index < GetPageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

BOOL CPropertySheet::SetActivePage(int index) {
    if (session_)
        return session_->setActivePage(index) ? TRUE : FALSE;
    if (!GetPage(index))
        return FALSE;
    active_ = index;
    return TRUE;
}

INT_PTR CPropertySheet::DoModal() {
    DialogDriver* driver = AfxGetDialogDriver();
    if (!driver || pages_.empty())
        return -1;
    // Every page is built up front, so a missing template fails the sheet
    // before anything runs rather than when its tab is opened.
    bool complete = true;
    for (CPropertyPage* page : pages_) {
        complete = page->create() && complete;
        page->activatedBefore_ = false;
    }
    if (!complete)
        return -1;
    if (!GetPage(active_))
        active_ = 0;
    endResult_.reset();
    ModalSession session(*this);
    session_ = &session;
    session.start();
    if (!session.hasEnded())
        driver->runModal(session);
    if (!session.hasEnded())
        session.cancel();
    session_ = nullptr;
    return session.result();
}

BOOL CPropertySheet::OnInitDialog() {
    return TRUE;
}
