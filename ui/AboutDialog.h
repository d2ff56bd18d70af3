// The about box: the product's name as a coloured title, and its version
// line, rights notice and web address as formatted text, over the background
// picture. The host shows it with AboutDialog::DoModalDialog. Template and
// picture come from the resource library; the user-interface thread only.
#pragma once

#include "foundation/TBString.h"
#include "mfc/MfcExt.h"
#include "mfc/afxdlgs.h"

class AboutDialog : public CDialog {
public:
    // Built on the about template, with no parent window.
    AboutDialog();
    ~AboutDialog() override;

    // Shows an about box modally and returns what DoModal gave: the id of the
    // button that closed it, or -1 when it could not be shown (no template,
    // no driver).
    static INT_PTR DoModalDialog();

    // Binds the title (1018) and text (1019) controls on every exchange.
    // When filling, also loads the background picture and sets up both
    // controls: the title always reads "Ulvaren", the text holds the HTML of
    // bodyText().
    void DoDataExchange(CDataExchange* pDX) override;
    // Draws the background picture stretched over the client area, or fills
    // it white when the picture is missing. Nonzero: the background is erased.
    BOOL OnEraseBkgnd(CDC* dc) override;

private:
    // The HTML of the text control for theAppConfig's current product values:
    // the version line, a line break and the rights notice, then a paragraph
    // with a link to the company's web site. Product values are escaped, so a
    // product file cannot inject markup.
    static terbin::TBString bodyText();

    CHtmlStatic text_;
    CColorStatic title_;
    CPicture background_;
};
