#include <array>

#include "mfc/DialogDriver.h"
#include "mfc/afxdlgs.h"

using terbin::TBString;

TBString AfxLoadString(UINT id) {
    // Longer than any string the resource library holds.
    std::array<wchar_t, 4096> buffer{};
    const int length =
        LoadStringW(AfxGetResourceHandle(), id, buffer.data(), static_cast<int>(buffer.size()));
    return TBString(buffer.data(), static_cast<size_t>(length));
}

// ---------------------------------------------------------- device context

void CDC::FillSolidRect(const RECT* rect, COLORREF colour) {
    if (rect)
        operations_.push_back({Operation::Kind::FillSolidRect, *rect, colour, 0});
}

void CDC::drawPicture(UINT pictureId, const RECT& rect) {
    operations_.push_back({Operation::Kind::DrawPicture, rect, 0, pictureId});
}

// ---------------------------------------------------------------- controls

ControlRecord* CDialogItem::record() {
    return dialog_ ? dialog_->findControl(id_) : &own_;
}

const ControlRecord* CDialogItem::record() const {
    return dialog_ ? static_cast<const CDialog*>(dialog_)->findControl(id_) : &own_;
}

BOOL CDialogItem::EnableWindow(BOOL enable) {
    ControlRecord* control = record();
    if (!control)
        return FALSE;
    const bool wasDisabled = !control->enabled;
    control->enabled = enable != FALSE;
    return wasDisabled ? TRUE : FALSE;
}

BOOL CDialogItem::IsWindowEnabled() const {
    const ControlRecord* control = record();
    return control && control->enabled ? TRUE : FALSE;
}

BOOL CDialogItem::ShowWindow(int command) {
    ControlRecord* control = record();
    if (!control)
        return FALSE;
    const bool wasVisible = control->visible;
    control->visible = command != SW_HIDE;
    return wasVisible ? TRUE : FALSE;
}

BOOL CDialogItem::IsWindowVisible() const {
    const ControlRecord* control = record();
    return control && control->visible ? TRUE : FALSE;
}

void CDialogItem::SetWindowText(const TBString& text) {
    if (ControlRecord* control = record())
        (windowTextIsValue(control->kind) ? control->text : control->label) = text;
}

TBString CDialogItem::GetWindowText() const {
    const ControlRecord* control = record();
    if (!control)
        return TBString();
    return windowTextIsValue(control->kind) ? control->text : control->label;
}

int CComboBox::AddString(const TBString& text) {
    ControlRecord* control = record();
    if (!control)
        return CB_ERR;
    control->items.add(text);
    return control->items.size() - 1;
}

int CComboBox::GetCount() const {
    const ControlRecord* control = record();
    return control ? control->items.size() : 0;
}

int CComboBox::GetCurSel() const {
    const ControlRecord* control = record();
    return control && control->selection >= 0 ? control->selection : CB_ERR;
}

int CComboBox::SetCurSel(int index) {
    ControlRecord* control = record();
    if (!control || index < -1 || index >= control->items.size())
        return CB_ERR;
    control->selection = index;
    control->text = index >= 0 ? control->items[index] : TBString();
    return index;
}

TBString CComboBox::GetLBText(int index) const {
    const ControlRecord* control = record();
    if (!control || index < 0 || index >= control->items.size())
        return TBString();
    return control->items[index];
}

void CComboBox::ResetContent() {
    if (ControlRecord* control = record()) {
        control->items.clear();
        control->selection = -1;
        control->text = TBString();
    }
}

// ------------------------------------------------------------------ dialogs

CDialog::CDialog(UINT templateId, CWnd* /*parent*/) : templateId_(templateId) {}

CDialog::~CDialog() = default;

bool CDialog::create() {
    std::optional<DialogTemplate> found = AfxFindDialogTemplate(templateId_);
    if (!found) {
        addFault(L"dialog template " + TBString::valueOf(templateId_) + L" is not registered");
        created_ = false;
        return false;
    }
    if (caption_.isEmpty())
        caption_ = found->caption;
    width_ = found->width;
    height_ = found->height;
    controls_ = std::move(found->controls);
    created_ = true;
    endResult_.reset();
    clearRefusal();
    return true;
}

INT_PTR CDialog::DoModal() {
    DialogDriver* driver = AfxGetDialogDriver();
    if (!driver || !create())
        return -1;
    ModalSession session(*this);
    session.start();
    if (!session.hasEnded())
        driver->runModal(session);
    if (!session.hasEnded())
        session.cancel();
    // A dialog whose OnCancel refuses to end still closes with its driver.
    return session.hasEnded() ? session.result() : IDCANCEL;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

void CDialog::OnOK() {
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnEraseBkgnd(CDC* dc) {
    RECT client{};
    GetClientRect(&client);
    dc->FillSolidRect(&client, DIALOG_FACE_COLOUR);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return exchange.failed() ? FALSE : TRUE;
}

void CDialog::EndDialog(int result) {
    endResult_ = result;
}

CDialogItem* CDialog::GetDlgItem(int id) {
    if (const auto it = bound_.find(id); it != bound_.end())
        return it->second;
    auto& item = looseItems_[id];
    if (!item) {
        item = std::make_unique<CDialogItem>();
        item->dialog_ = this;
        item->id_ = id;
    }
    if (!findControl(id))
        missingControl(id);
    return item.get();
}

void CDialog::SetDlgItemText(int id, const TBString& text) {
    GetDlgItem(id)->SetWindowText(text);
}

TBString CDialog::GetDlgItemText(int id) {
    return GetDlgItem(id)->GetWindowText();
}

void CDialog::CheckDlgButton(int id, UINT check) {
    GetDlgItem(id);
    if (ControlRecord* control = findControl(id))
        control->check = static_cast<int>(check);
}

UINT CDialog::IsDlgButtonChecked(int id) {
    GetDlgItem(id);
    const ControlRecord* control = findControl(id);
    return control ? static_cast<UINT>(control->check) : BST_UNCHECKED;
}

void CDialog::GetClientRect(RECT* rect) const {
    if (rect)
        *rect = RECT{0, 0, width_, height_};
}

void CDialog::onCommand(int id, UINT code, std::function<void()> handler) {
    routes_.push_back({id, id, code, [handler = std::move(handler)](UINT) { handler(); }});
}

void CDialog::onCommandRange(int firstId, int lastId, UINT code,
                             std::function<void(UINT)> handler) {
    routes_.push_back({firstId, lastId, code, std::move(handler)});
}

bool CDialog::dispatchNotification(int id, UINT code) {
    for (const Route& route : routes_) {
        if (route.code == code && id >= route.firstId && id <= route.lastId) {
            route.handler(static_cast<UINT>(id));
            return true;
        }
    }
    return false;
}

ControlRecord* CDialog::findControl(int id) {
    for (ControlRecord& control : controls_) {
        if (control.id == id)
            return &control;
    }
    return nullptr;
}

const ControlRecord* CDialog::findControl(int id) const {
    return const_cast<CDialog*>(this)->findControl(id);
}

const CDialogItem* CDialog::boundControl(int id) const {
    const auto it = bound_.find(id);
    return it == bound_.end() ? nullptr : it->second;
}

void CDialog::addFault(const TBString& fault) {
    // A handler that runs on every change would repeat the same mistake.
    for (const TBString& known : faults_) {
        if (known == fault)
            return;
    }
    faults_.push_back(fault);
}

void CDialog::clearRefusal() {
    refusal_ = TBString();
    refusalControl_ = 0;
}

void CDialog::missingControl(int id) {
    const TBString control = L"control " + TBString::valueOf(id);
    const TBString dialog = L"dialog template " + TBString::valueOf(templateId_);
    addFault(created_ ? control + L" is not in " + dialog
                      : control + L" was used before " + dialog + L" was built");
}

void CDialog::bind(CDialogItem& item, int id) {
    item.dialog_ = this;
    item.id_ = id;
    bound_[id] = &item;
}
