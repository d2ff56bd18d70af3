// An open modal dialog or property sheet as its driver sees it: the pages,
// the active page's controls, and what a person can do with them. A plain
// dialog is a session with one page.
//
// Every action returns whether it was taken. A refused action changes
// nothing and leaves a message() for the person (a value the page would not
// accept, a disabled control, OK not yet available). An action on a control
// updates its record and then delivers the control's notification to the
// page's handlers (EN_CHANGE for typed text, BN_CLICKED for a click or a
// check box, CBN_SELCHANGE for a selection); the page decides what follows.
//
// Pages of a sheet may be opened in any order. In a wizard sheet a page
// opens only after the ones before it, and Finish (confirm) is offered on
// the last page only.
#pragma once

#include <vector>

#include "foundation/TBString.h"
#include "mfc/afxdlgs.h"

class ModalSession {
public:
    explicit ModalSession(CDialog& dialog);
    explicit ModalSession(CPropertySheet& sheet);
    ~ModalSession();
    ModalSession(const ModalSession&) = delete;
    ModalSession& operator=(const ModalSession&) = delete;

    // ------------------------------------------------------- what is shown

    bool isSheet() const { return sheet_ != nullptr; }
    bool isWizard() const { return sheet_ && sheet_->isWizard(); }
    // The dialog's or sheet's caption.
    terbin::TBString caption() const;
    // 1 for a plain dialog.
    int pageCount() const { return static_cast<int>(pages_.size()); }
    // The tab caption of page `index` (the caption for a plain dialog).
    terbin::TBString pageCaption(int index) const;
    // Whether page `index` has been opened in this session.
    bool wasOpened(int index) const;
    // Whether page `index` marked itself changed (SetModified).
    bool isPageModified(int index) const;
    int activePage() const;
    // The active page's controls, in template order.
    const std::vector<ControlRecord>& controls() const;
    // The active page's control `id`; null when it has none.
    const ControlRecord* control(int id) const;
    // The object the active page bound to control `id` (DDX_Control), for a
    // driver that shows more than the record holds (colours, padding, fonts);
    // null when none is bound.
    const CDialogItem* boundControl(int id) const;
    bool isOkEnabled() const;
    // Why the last action was refused; empty when it was taken.
    const terbin::TBString& message() const { return message_; }
    // The control a refused value concerns (focused); 0 when none.
    int focusedControl() const { return focus_; }
    // The faults every page recorded (see CDialog::faults), in page order.
    std::vector<terbin::TBString> faults() const;
    bool hasEnded() const { return ended_; }
    // IDOK, IDCANCEL or the value given to EndDialog; IDCANCEL while open.
    INT_PTR result() const { return result_; }
    // Lets the active page paint its background on `dc`; its answer.
    BOOL paintBackground(CDC& dc);

    // ---------------------------------------------------- what a person does

    // Opens page `index`: the page being left reads its controls back first
    // and a refusal keeps it open. A page opened for the first time is built
    // and filled (OnInitDialog), later ones are refilled (OnSetActive).
    bool setActivePage(int index);
    bool back();
    bool next();
    // Types `text` into an edit field (EN_CHANGE).
    bool setText(int id, const terbin::TBString& text);
    // Sets a check box to 0 or 1 (BN_CLICKED when that changes it).
    bool setCheck(int id, int check);
    // Selects item `index` of a combo box (CBN_SELCHANGE).
    bool select(int id, int index);
    // Clicks a button (BN_CLICKED) or a check box (toggles it, BN_CLICKED).
    // IDOK confirms and IDCANCEL cancels.
    bool click(int id);
    // OK or Finish. Refused while OK is disabled or any opened page refuses
    // its values (that page becomes active, showing the refused text). Then
    // every opened page applies its values and the session ends with IDOK.
    bool confirm();
    // Cancel: the session ends with IDCANCEL (unless a plain dialog's
    // OnCancel keeps it open); no page applies anything.
    void cancel();

    // Called by DoModal before the driver runs: initialises the dialog or
    // sheet and opens the first page.
    void start();

private:
    CDialog& activeDialog() const;
    ControlRecord* actionTarget(int id);
    bool refuse(const terbin::TBString& message);
    void beginAction();
    void finishAction();
    void open(int index);
    void deliver(int id, UINT code);

    CDialog* dialog_ = nullptr;
    CPropertySheet* sheet_ = nullptr;
    std::vector<CDialog*> pages_;
    std::vector<bool> opened_;
    terbin::TBString message_;
    int focus_ = 0;
    bool ended_ = false;
    INT_PTR result_ = IDCANCEL;
};
