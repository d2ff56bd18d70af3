#include "ui/AboutDialog.h"

#include "base/ULVConfig.h"
#include "foundation/TBTime.h"
#include "resource/resource.h"

using terbin::TBString;

namespace {

constexpr int TitleControl = 1018;
constexpr int TextControl = 1019;

constexpr int Padding = 4;
constexpr COLORREF White = 0xFFFFFF;
// COLORREF is 0x00BBGGRR: blue 200, no red or green.
constexpr COLORREF TitleColour = 0xC80000;
constexpr double TitleFontSize = 24.0;
constexpr int TitleFontBold = 1;

// The title is the product's own name, not a product value: a product file
// that renames the edition does not rename the program.
constexpr const wchar_t* ProductName = L"Ulvaren";
constexpr const char* VersionFormat = "%t v%m.%n.%r build %b";
// The year of the first release, where the rights notice's range begins.
constexpr int FirstYear = 2011;

// `text` with the characters that HTML gives a meaning replaced by entities.
TBString escaped(const TBString& text) {
    return text.replace(L"&", L"&amp;")
        .replace(L"<", L"&lt;")
        .replace(L">", L"&gt;")
        .replace(L"\"", L"&quot;");
}

// "2011-<this year>", or one year while the clock says no later one.
TBString rightsYears() {
    terbin::TBDate today;
    today.update();
    TBString years = TBString::valueOf(FirstYear);
    if (today.getYear() > FirstYear)
        years += L"-" + TBString::valueOf(today.getYear());
    return years;
}

}  // namespace

AboutDialog::AboutDialog()
    : CDialog(IDD_ABOUT, nullptr),
      text_(CLR_DEFAULT, CLR_DEFAULT, 0),
      title_(CLR_DEFAULT, CLR_DEFAULT, 0) {}

AboutDialog::~AboutDialog() = default;

INT_PTR AboutDialog::DoModalDialog() {
    AboutDialog dialog;
    return dialog.DoModal();
}

TBString AboutDialog::bodyText() {
    const TBString company = escaped(theAppConfig.getProductString(L"PRODUCT_COMPANY"));
    const TBString site = escaped(theAppConfig.getProductString(L"PRODUCT_COMPANY_URL"));
    return escaped(theAppConfig.product().version(VersionFormat)) + L"<br>Copyright \u00A9 " +
           rightsYears() + L" " + company + L". All rights reserved." +
           L"<p>For more information and support visit <a href=\"" + site + L"\">" + site +
           L"</a>.";
}

void AboutDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, TitleControl, title_);
    DDX_Control(pDX, TextControl, text_);
    if (pDX->m_bSaveAndValidate)
        return;

    // A missing picture leaves no image, and the background is painted white.
    background_.Load(IDB_ABOUT_BACKGROUND, nullptr, nullptr);

    text_.SetPadding(Padding);
    text_.SetBackgroundColor(White);
    text_.SetWindowText(bodyText());

    title_.SetPadding(Padding);
    title_.SetFontInfo(L"Arial", TitleFontSize, TitleFontBold, nullptr);
    title_.SetBackgroundColor(CLR_NONE);
    title_.SetTextColor(TitleColour);
    title_.SetWindowText(ProductName);
}

BOOL AboutDialog::OnEraseBkgnd(CDC* dc) {
    RECT client;
    GetClientRect(&client);
    if (background_.hasImage())
        background_.Render(dc, client, nullptr);
    else
        dc->FillSolidRect(&client, White);
    return TRUE;
}
