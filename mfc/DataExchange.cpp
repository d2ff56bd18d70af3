#include <cerrno>
#include <climits>
#include <cstdlib>

#include "mfc/afxdlgs.h"

using terbin::TBString;

CDataExchange::CDataExchange(CDialog* dialog, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

ControlRecord* CDataExchange::control(int id) {
    ControlRecord* record = m_pDlgWnd->findControl(id);
    if (!record)
        m_pDlgWnd->missingControl(id);
    return record;
}

void CDataExchange::Fail(int id, const TBString& message) {
    failed_ = true;
    m_pDlgWnd->refusal_ = message;
    m_pDlgWnd->refusalControl_ = id;
}

namespace {

// The control to exchange with; null when the exchange has been refused
// already or the control is missing.
ControlRecord* exchangeTarget(CDataExchange* pDX, int id) {
    return pDX->failed() ? nullptr : pDX->control(id);
}

// The name a message gives the field: its label without the accelerator mark
// and the colon, else its id.
TBString fieldName(const ControlRecord& control) {
    TBString name = control.label.replace(L"&", L"").trimmed();
    if (name.endsWith(L":"))
        name = name.left(name.length() - 1).trimmed();
    return name.isEmpty() ? L"Field " + TBString::valueOf(control.id) : L"\"" + name + L"\"";
}

// `text` as a whole number in the signed 32-bit range; nothing otherwise.
std::optional<int> parseWholeNumber(const TBString& text) {
    const std::string digits = text.trimmed().narrow();
    if (digits.empty())
        return std::nullopt;
    const size_t first = digits[0] == '-' || digits[0] == '+' ? 1 : 0;
    if (first == digits.size())
        return std::nullopt;
    for (size_t i = first; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return std::nullopt;
    }
    errno = 0;
    const long long value = std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, TBString& value) {
    ControlRecord* control = exchangeTarget(pDX, id);
    if (!control)
        return;
    if (pDX->m_bSaveAndValidate)
        value = control->text;
    else
        control->text = value;
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
    ControlRecord* control = exchangeTarget(pDX, id);
    if (!control)
        return;
    if (!pDX->m_bSaveAndValidate) {
        control->text = TBString::valueOf(value);
        return;
    }
    if (const std::optional<int> number = parseWholeNumber(control->text)) {
        value = *number;
        return;
    }
    pDX->Fail(id, fieldName(*control) + L" needs a whole number between " +
                      TBString::valueOf(INT_MIN) + L" and " + TBString::valueOf(INT_MAX) + L"; \"" +
                      control->text + L"\" is not one.");
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    ControlRecord* control = exchangeTarget(pDX, id);
    if (!control)
        return;
    if (pDX->m_bSaveAndValidate)
        value = control->check;
    else
        control->check = value != 0 ? 1 : 0;
}

void DDX_CBIndex(CDataExchange* pDX, int id, int& index) {
    ControlRecord* control = exchangeTarget(pDX, id);
    if (!control)
        return;
    if (pDX->m_bSaveAndValidate) {
        index = control->selection;
        return;
    }
    const bool inRange = index >= 0 && index < control->items.size();
    control->selection = inRange ? index : -1;
    control->text = inRange ? control->items[index] : TBString();
}

void DDX_Control(CDataExchange* pDX, int id, CDialogItem& item) {
    if (item.isAttached() || !pDX->control(id))
        return;
    pDX->m_pDlgWnd->bind(item, id);
}
