#include "mfc/ModalSession.h"

using terbin::TBString;

namespace {

TBString controlName(const ControlRecord& control) {
    const TBString label = control.label.replace(L"&", L"").trimmed();
    return label.isEmpty() ? L"control " + TBString::valueOf(control.id) : L"\"" + label + L"\"";
}

}  // namespace

ModalSession::ModalSession(CDialog& dialog) : dialog_(&dialog), pages_{&dialog}, opened_(1) {}

ModalSession::ModalSession(CPropertySheet& sheet)
    : sheet_(&sheet),
      pages_(sheet.pages_.begin(), sheet.pages_.end()),
      opened_(sheet.pages_.size()) {}

ModalSession::~ModalSession() = default;

void ModalSession::start() {
    if (sheet_) {
        sheet_->OnInitDialog();
        open(sheet_->active_);
    } else {
        opened_[0] = true;
        dialog_->OnInitDialog();
    }
    finishAction();
}

// ------------------------------------------------------------ what is shown

TBString ModalSession::caption() const {
    return sheet_ ? sheet_->GetWindowText() : dialog_->GetWindowText();
}

TBString ModalSession::pageCaption(int index) const {
    if (index < 0 || index >= pageCount())
        return TBString();
    return sheet_ ? sheet_->GetPage(index)->caption() : dialog_->GetWindowText();
}

bool ModalSession::wasOpened(int index) const {
    return index >= 0 && index < pageCount() && opened_[static_cast<size_t>(index)];
}

bool ModalSession::isPageModified(int index) const {
    const CPropertyPage* page = sheet_ ? sheet_->GetPage(index) : nullptr;
    return page && page->isModified();
}

int ModalSession::activePage() const {
    return sheet_ ? sheet_->active_ : 0;
}

CDialog& ModalSession::activeDialog() const {
    return *pages_[static_cast<size_t>(activePage())];
}

const std::vector<ControlRecord>& ModalSession::controls() const {
    return activeDialog().controls();
}

const ControlRecord* ModalSession::control(int id) const {
    return static_cast<const CDialog&>(activeDialog()).findControl(id);
}

const CDialogItem* ModalSession::boundControl(int id) const {
    return activeDialog().boundControl(id);
}

bool ModalSession::isOkEnabled() const {
    if (sheet_)
        return sheet_->isOkEnabled();
    const ControlRecord* ok = dialog_->findControl(IDOK);
    return !ok || (ok->enabled && ok->visible);
}

std::vector<TBString> ModalSession::faults() const {
    std::vector<TBString> all;
    for (const CDialog* page : pages_)
        all.insert(all.end(), page->faults().begin(), page->faults().end());
    return all;
}

BOOL ModalSession::paintBackground(CDC& dc) {
    return activeDialog().OnEraseBkgnd(&dc);
}

// -------------------------------------------------------- what a person does

void ModalSession::beginAction() {
    message_ = TBString();
    focus_ = 0;
    for (CDialog* page : pages_) page->clearRefusal();
}

// Takes up what the dialog's code left: a refusal to show, an end to record.
void ModalSession::finishAction() {
    for (CDialog* page : pages_) {
        if (!page->refusalMessage().isEmpty()) {
            message_ = page->refusalMessage();
            focus_ = page->refusalControl();
            page->clearRefusal();
        }
    }
    const std::optional<int> end = sheet_ ? sheet_->endResult_ : dialog_->endResult();
    if (end && !ended_) {
        ended_ = true;
        result_ = *end;
    }
}

bool ModalSession::refuse(const TBString& message) {
    message_ = message;
    return false;
}

void ModalSession::open(int index) {
    sheet_->active_ = index;
    CPropertyPage* page = sheet_->GetPage(index);
    if (!opened_[static_cast<size_t>(index)]) {
        opened_[static_cast<size_t>(index)] = true;
        page->OnInitDialog();
    }
    page->OnSetActive();
}

bool ModalSession::setActivePage(int index) {
    beginAction();
    if (ended_)
        return refuse(L"The dialog is closed.");
    if (index < 0 || index >= pageCount())
        return refuse(L"There is no page " + TBString::valueOf(index + 1) + L".");
    if (index == activePage())
        return true;
    if (isWizard() && !wasOpened(index) && index != activePage() + 1)
        return refuse(L"The pages are filled in order: finish this page first.");
    CPropertyPage* leaving = sheet_->GetActivePage();
    if (!leaving->OnKillActive()) {
        finishAction();
        if (message_.isEmpty())
            message_ = L"This page cannot be left now.";
        return false;
    }
    open(index);
    finishAction();
    return true;
}

bool ModalSession::back() {
    return setActivePage(activePage() - 1);
}

bool ModalSession::next() {
    return setActivePage(activePage() + 1);
}

// The active page's control `id` when a person could act on it now; null
// (with the reason in message()) otherwise.
ControlRecord* ModalSession::actionTarget(int id) {
    beginAction();
    if (ended_) {
        refuse(L"The dialog is closed.");
        return nullptr;
    }
    ControlRecord* control = activeDialog().findControl(id);
    if (!control) {
        refuse(L"There is no control " + TBString::valueOf(id) + L" on this page.");
        return nullptr;
    }
    if (!control->visible || !control->enabled) {
        refuse(controlName(*control) + L" is not available now.");
        return nullptr;
    }
    return control;
}

void ModalSession::deliver(int id, UINT code) {
    activeDialog().dispatchNotification(id, code);
    finishAction();
}

bool ModalSession::setText(int id, const TBString& text) {
    ControlRecord* control = actionTarget(id);
    if (!control)
        return false;
    if (control->kind != ControlKind::Edit && control->kind != ControlKind::MultiLineEdit)
        return refuse(controlName(*control) + L" does not take typed text.");
    control->text = text;
    deliver(id, EN_CHANGE);
    return true;
}

bool ModalSession::setCheck(int id, int check) {
    ControlRecord* control = actionTarget(id);
    if (!control)
        return false;
    if (control->kind != ControlKind::CheckBox)
        return refuse(controlName(*control) + L" is not a check box.");
    if (check != 0 && check != 1)
        return refuse(L"A check box is either off (0) or on (1).");
    if (control->check == check)
        return true;
    control->check = check;
    deliver(id, BN_CLICKED);
    return true;
}

bool ModalSession::select(int id, int index) {
    ControlRecord* control = actionTarget(id);
    if (!control)
        return false;
    if (control->kind != ControlKind::ComboBox)
        return refuse(controlName(*control) + L" is not a list to choose from.");
    if (index < 0 || index >= control->items.size())
        return refuse(controlName(*control) + L" has no item " + TBString::valueOf(index + 1) +
                      L".");
    control->selection = index;
    control->text = control->items[index];
    deliver(id, CBN_SELCHANGE);
    return true;
}

bool ModalSession::click(int id) {
    if (id == IDOK)
        return confirm();
    if (id == IDCANCEL) {
        cancel();
        return true;
    }
    ControlRecord* control = actionTarget(id);
    if (!control)
        return false;
    if (control->kind == ControlKind::CheckBox)
        control->check = control->check ? 0 : 1;
    else if (control->kind != ControlKind::Button)
        return refuse(controlName(*control) + L" cannot be clicked.");
    deliver(id, BN_CLICKED);
    return true;
}

bool ModalSession::confirm() {
    beginAction();
    if (ended_)
        return refuse(L"The dialog is closed.");
    if (!isOkEnabled())
        return refuse(L"OK is not available yet: complete the dialog first.");
    if (!sheet_) {
        dialog_->OnOK();
        finishAction();
        return ended_;
    }
    if (isWizard() && activePage() != pageCount() - 1)
        return refuse(L"Finish is on the last page.");
    // Every opened page reads its values back, the active one first, before
    // any of them applies: a refusal anywhere leaves the set of values as it
    // was before OK.
    std::vector<int> order{activePage()};
    for (int i = 0; i < pageCount(); ++i) {
        if (i != activePage() && wasOpened(i))
            order.push_back(i);
    }
    for (const int index : order) {
        CPropertyPage* page = sheet_->GetPage(index);
        if (!page->OnKillActive()) {
            // Shown as it was left, with the refused text still in place.
            sheet_->active_ = index;
            finishAction();
            if (message_.isEmpty())
                message_ = L"\"" + page->caption() + L"\" holds a value that is not accepted.";
            return false;
        }
    }
    for (int i = 0; i < pageCount(); ++i) {
        if (wasOpened(i) && !sheet_->GetPage(i)->OnApply()) {
            finishAction();
            if (message_.isEmpty())
                message_ = L"\"" + sheet_->GetPage(i)->caption() + L"\" could not be applied.";
            return false;
        }
    }
    if (!sheet_->endResult_)
        sheet_->endResult_ = IDOK;
    finishAction();
    return true;
}

void ModalSession::cancel() {
    beginAction();
    if (ended_)
        return;
    if (!sheet_) {
        dialog_->OnCancel();
        finishAction();
        return;
    }
    for (int i = 0; i < pageCount(); ++i) {
        if (wasOpened(i))
            sheet_->GetPage(i)->OnCancel();
    }
    if (!sheet_->endResult_)
        sheet_->endResult_ = IDCANCEL;
    finishAction();
}
