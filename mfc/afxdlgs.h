// Dialogs of the headless framework stand-in: modal dialogs built from
// registered templates (mfc/DialogTemplate.h), their controls, dialog data
// exchange, tabbed property sheets, the file chooser and a device context
// that records what is painted.
//
// Nothing here draws or waits for input. DoModal hands the open dialog to the
// installed DialogDriver (mfc/DialogDriver.h) as a ModalSession; the driver
// shows the controls, changes them as a person would and confirms or cancels.
// Every change reaches the dialog's own handlers, so the dialog decides what
// follows, never the driver. All of it runs on the user-interface thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/TBString.h"
#include "mfc/DialogTemplate.h"
#include "mfc/afxwin.h"

using INT_PTR = intptr_t;
using COLORREF = DWORD;

// The buttons that close a dialog, and their results.
#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

// Notification codes a control sends to its dialog.
constexpr UINT BN_CLICKED = 0;
constexpr UINT BN_DOUBLECLICKED = 1;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT EN_CHANGE = 0x300;

constexpr int CB_ERR = -1;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

constexpr COLORREF CLR_DEFAULT = 0xFF000000;
constexpr COLORREF CLR_NONE = 0xFFFFFFFF;
// What a dialog's background is filled with when the dialog paints none itself.
constexpr COLORREF DIALOG_FACE_COLOUR = 0xF0F0F0;

// File chooser flags.
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;
constexpr DWORD OFN_LONGNAMES = 0x200000;

class CDialog;
class ModalSession;

// The string resource `id` of the resource handle in force; empty when there
// is no such string.
terbin::TBString AfxLoadString(UINT id);

// ---------------------------------------------------------- device context

// A device context that records what is painted on it, in order.
class CDC {
public:
    struct Operation {
        enum class Kind { FillSolidRect, DrawPicture };
        Kind kind;
        RECT rect;
        // FillSolidRect: the colour (0x00BBGGRR).
        COLORREF colour = 0;
        // DrawPicture: the picture resource drawn.
        UINT pictureId = 0;
    };

    CDC() = default;
    virtual ~CDC() = default;

    void FillSolidRect(const RECT* rect, COLORREF colour);
    // Records that the picture resource `pictureId` was drawn stretched into
    // `rect` (called by the pictures themselves).
    void drawPicture(UINT pictureId, const RECT& rect);

    const std::vector<Operation>& operations() const { return operations_; }

private:
    std::vector<Operation> operations_;
};

// ---------------------------------------------------------------- controls

// A control window of a dialog: a view over the control record with its id.
// An object is attached to its record by DDX_Control (a member of the dialog)
// or by CDialog::GetDlgItem. Before it is attached it works on a record of its
// own, which no driver sees.
class CDialogItem : public CWnd {
public:
    CDialogItem() = default;

    // The control id; 0 before attaching.
    int GetDlgCtrlID() const { return id_; }
    bool isAttached() const { return dialog_ != nullptr; }

    // Enables or disables the control; TRUE when it was disabled before.
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    // SW_HIDE hides, anything else shows; TRUE when it was visible before.
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    // An edit field's or combo box's value, any other control's caption.
    void SetWindowText(const terbin::TBString& text);
    terbin::TBString GetWindowText() const;

protected:
    // The record this object stands for: the dialog's while attached (null
    // when the dialog has no such control any more), else its own.
    ControlRecord* record();
    const ControlRecord* record() const;

private:
    friend class CDialog;
    CDialog* dialog_ = nullptr;
    int id_ = 0;
    ControlRecord own_;
};

// A drop-down list of texts.
class CComboBox : public CDialogItem {
public:
    // Appends `text`; its index.
    int AddString(const terbin::TBString& text);
    int GetCount() const;
    // The selected index; CB_ERR when none is.
    int GetCurSel() const;
    // Selects `index` (-1 clears); CB_ERR for an index out of range.
    int SetCurSel(int index);
    // The text at `index`; empty out of range.
    terbin::TBString GetLBText(int index) const;
    void ResetContent();
};

// ----------------------------------------------------- dialog data exchange

// One exchange between a dialog's members and its control records: filling
// the controls (m_bSaveAndValidate FALSE) or reading them back (TRUE). A
// refused value stops the exchange: later DDX calls do nothing, and UpdateData
// reports the refusal.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate);

    // The record of control `id`; null (and a fault recorded on the dialog)
    // when the dialog has no such control.
    ControlRecord* control(int id);
    // Refuses the exchange: `message` is shown and control `id` focused.
    void Fail(int id, const terbin::TBString& message);
    bool failed() const { return failed_; }

    const BOOL m_bSaveAndValidate;
    CDialog* const m_pDlgWnd;

private:
    bool failed_ = false;
};

// Text of an edit field (or the chosen item of a combo box) and a string.
void DDX_Text(CDataExchange* pDX, int id, terbin::TBString& value);
// Text of an edit field and a whole number. Reading refuses a text that is not
// a whole number in the signed 32-bit range (spaces around it allowed) with a
// message naming the field, and leaves `value` unchanged.
void DDX_Text(CDataExchange* pDX, int id, int& value);
// A check box and 0 (off) or 1 (on); filling treats any nonzero as on.
void DDX_Check(CDataExchange* pDX, int id, int& value);
// A combo box's selected index (-1 none). Filling with an index out of range
// clears the selection.
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);
// Attaches `control` to the record `id` (once; later calls do nothing).
void DDX_Control(CDataExchange* pDX, int id, CDialogItem& control);

// ------------------------------------------------------------------ dialogs

// A dialog built from the registered template of its id.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Builds the controls from the template, initialises the dialog
    // (OnInitDialog) and hands it to the installed driver until the driver
    // ends it. The id of the button that closed it (IDOK, IDCANCEL or the
    // value given to EndDialog); -1 when it cannot be shown: no template of
    // its id is registered (a fault is recorded) or no driver is installed.
    virtual INT_PTR DoModal();

    // Called once the controls exist; fills them (UpdateData(FALSE)). TRUE.
    virtual BOOL OnInitDialog();
    // Exchanges the members with the controls; the dialog's DDX calls go here.
    virtual void DoDataExchange(CDataExchange* pDX);
    // The OK button: reads the controls back and, unless that is refused,
    // ends the dialog with IDOK.
    virtual void OnOK();
    // The Cancel button: ends the dialog with IDCANCEL.
    virtual void OnCancel();
    // Paints the background: fills the client area with DIALOG_FACE_COLOUR.
    // Nonzero when the background counts as erased.
    virtual BOOL OnEraseBkgnd(CDC* dc);

    // Runs DoDataExchange in the given direction. FALSE when a value was
    // refused: the refusal's message is kept (refusalMessage) and the
    // dialog stays as it is.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    // Ends the modal run with `result` once the current step returns.
    void EndDialog(int result);

    // The control `id`; never null. For an id the dialog lacks the object
    // works on a record of its own, and a fault is recorded.
    CDialogItem* GetDlgItem(int id);
    void SetDlgItemText(int id, const terbin::TBString& text);
    terbin::TBString GetDlgItemText(int id);
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id);
    // The dialog's caption (the template's until changed).
    void SetWindowText(const terbin::TBString& caption) { caption_ = caption; }
    terbin::TBString GetWindowText() const { return caption_; }
    // The client area: the template's size at the origin.
    void GetClientRect(RECT* rect) const;

    // Routes notification `code` of control `id` to `handler`. The first
    // entry that matches a notification handles it.
    void onCommand(int id, UINT code, std::function<void()> handler);
    // Routes notification `code` of any control in firstId..lastId to
    // `handler`, which gets the control's id.
    void onCommandRange(int firstId, int lastId, UINT code, std::function<void(UINT)> handler);
    // Delivers a notification to the first matching handler; false when none
    // matched.
    bool dispatchNotification(int id, UINT code);

    UINT templateId() const { return templateId_; }
    // Whether the controls exist (the template was loaded).
    bool isCreated() const { return created_; }
    const std::vector<ControlRecord>& controls() const { return controls_; }
    ControlRecord* findControl(int id);
    const ControlRecord* findControl(int id) const;
    // The control object attached to `id` by DDX_Control; null when none is.
    const CDialogItem* boundControl(int id) const;
    // Mistakes of the dialog's code that a test can see, such as a control
    // id the template lacks.
    const std::vector<terbin::TBString>& faults() const { return faults_; }
    void addFault(const terbin::TBString& fault);
    // The message of the last refused exchange, and the control it concerns;
    // empty and 0 once taken.
    const terbin::TBString& refusalMessage() const { return refusal_; }
    int refusalControl() const { return refusalControl_; }
    void clearRefusal();
    // The result given to EndDialog since the dialog was last created.
    std::optional<int> endResult() const { return endResult_; }

protected:
    // Builds the control records from the template; false (and a fault) when
    // no template of the dialog's id is registered.
    bool create();

private:
    friend class CDataExchange;
    friend void DDX_Control(CDataExchange*, int, CDialogItem&);
    void bind(CDialogItem& item, int id);
    // Records the fault of code that used control `id`, which the dialog lacks.
    void missingControl(int id);

    struct Route {
        int firstId;
        int lastId;
        UINT code;
        std::function<void(UINT)> handler;
    };

    const UINT templateId_;
    bool created_ = false;
    terbin::TBString caption_;
    long width_ = 0;
    long height_ = 0;
    std::vector<ControlRecord> controls_;
    std::vector<Route> routes_;
    // Members bound by DDX_Control; they live as long as the dialog object.
    std::map<int, CDialogItem*> bound_;
    // Objects GetDlgItem made for controls no member is bound to.
    std::map<int, std::unique_ptr<CDialogItem>> looseItems_;
    std::vector<terbin::TBString> faults_;
    terbin::TBString refusal_;
    int refusalControl_ = 0;
    std::optional<int> endResult_;
};

// ------------------------------------------------------- property sheets

class CPropertySheet;

// One page (tab) of a property sheet.
class CPropertyPage : public CDialog {
public:
    // `captionId`: a string of the resource library for the tab; 0 (or an
    // unknown string) keeps the template's caption.
    explicit CPropertyPage(UINT templateId, UINT captionId = 0);

    // Called each time the page becomes the active one; after the first time
    // it refills the controls (UpdateData(FALSE)). TRUE.
    virtual BOOL OnSetActive();
    // Called before another page becomes active and on OK: reads the controls
    // back (UpdateData(TRUE)). FALSE keeps the page active.
    virtual BOOL OnKillActive();
    // Called on OK for every page the person opened, after all of them read
    // their controls back without refusal. TRUE.
    virtual BOOL OnApply();
    // Called on Cancel for every page the person opened; does nothing.
    void OnCancel() override;

    // Marks the page as changed (or not).
    void SetModified(BOOL changed = TRUE) { modified_ = changed != FALSE; }
    bool isModified() const { return modified_; }
    // The tab's caption.
    terbin::TBString caption() const;

protected:
    // Sets the tab's caption; empty returns to the template's.
    void setCaption(const terbin::TBString& caption) { caption_ = caption; }

private:
    friend class CPropertySheet;
    terbin::TBString caption_;
    bool modified_ = false;
    // Whether OnSetActive ran since the sheet started.
    bool activatedBefore_ = false;
};

// A tabbed property sheet: pages can be visited in any order, Back and Next
// are a convenience, OK confirms. A page's controls are built and filled the
// first time it becomes active. On OK every opened page reads its controls
// back (the first refusal keeps the sheet open on that page) and then every
// opened page applies (OnApply); pages never opened take no part. On Cancel
// no page applies.
class CPropertySheet : public CWnd {
public:
    // `captionId`: a string of the resource library (empty when unknown).
    explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
    ~CPropertySheet() override;

    // Appends `page` (not owned).
    void AddPage(CPropertyPage* page);
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    // Null out of range.
    CPropertyPage* GetPage(int index) const;
    int GetActiveIndex() const { return active_; }
    CPropertyPage* GetActivePage() const { return GetPage(active_); }
    // While the sheet runs, activates page `index` as a click on its tab
    // would (FALSE when refused); before, chooses the page it starts on.
    BOOL SetActivePage(int index);

    // Builds every page (a page whose template is missing makes DoModal fail
    // with -1), initialises the sheet (OnInitDialog), activates the start
    // page and hands the sheet to the installed driver. IDOK, IDCANCEL or
    // the value given to EndDialog; -1 without a driver or pages.
    virtual INT_PTR DoModal();
    // Called once, before the first page is activated. TRUE.
    virtual BOOL OnInitDialog();
    // Ends the modal run with `result` once the current step returns.
    void EndDialog(int result) { endResult_ = result; }

    void SetWindowText(const terbin::TBString& caption) { caption_ = caption; }
    terbin::TBString GetWindowText() const { return caption_; }
    bool isOkEnabled() const { return okEnabled_; }
    // Whether the pages must be passed in order (see ModalSession).
    bool isWizard() const { return wizard_; }

protected:
    bool okEnabled_ = true;
    bool wizard_ = false;

private:
    friend class ModalSession;
    std::vector<CPropertyPage*> pages_;
    terbin::TBString caption_;
    int active_ = 0;
    ModalSession* session_ = nullptr;
    std::optional<int> endResult_;
};

// ------------------------------------------------------------ file chooser

// The file chooser: asks the installed driver for a file.
class CFileDialog {
public:
    CFileDialog(BOOL openFileDialog, const terbin::TBString& defaultExtension = {},
                const terbin::TBString& fileName = {}, DWORD flags = 0,
                const terbin::TBString& filter = {}, CWnd* parent = nullptr, DWORD size = 0,
                BOOL vistaStyle = TRUE);
    virtual ~CFileDialog() = default;

    // IDOK when the driver chose a file, else IDCANCEL (also without a
    // driver). With OFN_FILEMUSTEXIST on an open dialog a choice that names
    // no existing file counts as cancelled.
    virtual INT_PTR DoModal();
    // The chosen path; empty before a confirmed DoModal.
    terbin::TBString GetPathName() const { return path_; }

private:
    const bool open_;
    const terbin::TBString defaultExtension_;
    const terbin::TBString fileName_;
    const DWORD flags_;
    const terbin::TBString filter_;
    terbin::TBString path_;
};
