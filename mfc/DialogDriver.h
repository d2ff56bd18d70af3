// The seam between the dialogs and whoever works them: a test script, the
// terminal, a web page. DoModal of a dialog or sheet hands a ModalSession to
// the installed driver; the file and folder choosers ask it for a path, and a
// dialog's code may put a yes-or-no question to it.
#pragma once

#include <optional>

#include "foundation/TBString.h"
#include "mfc/ModalSession.h"

// What a folder chooser asks for.
struct FolderChoice {
    // The folder it opens at; may be empty.
    terbin::TBString startFolder;
    terbin::TBString title;
    UINT flags = 0;
};

// What a file chooser asks for.
struct FileChoice {
    // An open dialog (the file is read) rather than a save dialog.
    bool open = true;
    // Pairs of "description|patterns|", ending with "|".
    terbin::TBString filter;
    terbin::TBString defaultExtension;
    terbin::TBString fileName;
    DWORD flags = 0;
};

class DialogDriver {
public:
    virtual ~DialogDriver() = default;
    // Shows the open dialog or sheet and works it until session.hasEnded();
    // returns session.result(). A session the driver leaves open is
    // cancelled by the caller.
    virtual INT_PTR runModal(ModalSession& session) = 0;
    // The folder the person chose; nothing when they cancelled.
    virtual std::optional<terbin::TBString> chooseFolder(const FolderChoice& choice) = 0;
    // The file the person chose; nothing when they cancelled.
    virtual std::optional<terbin::TBString> chooseFile(const FileChoice& choice) = 0;
    // Puts `question` to the person, to be answered yes or no; true for yes.
    // A driver that cannot ask answers no, so the safe answer of a question
    // must be no.
    virtual bool askYesNo(const terbin::TBString& /*question*/) { return false; }
};

// Installs the driver every later DoModal uses (null: none, and DoModal of a
// dialog or sheet fails with -1 while the choosers report a cancel). Not
// owned. Set it on the user-interface thread before any dialog runs.
void AfxSetDialogDriver(DialogDriver* driver);
DialogDriver* AfxGetDialogDriver();
