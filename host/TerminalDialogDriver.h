// The dialog driver of the terminal host: shows the open dialog or sheet as
// text and works it from lines a person types, or a script feeds, on
// standard input.
//
// A page is shown as its caption, the sheet's pages with the active one in
// brackets (a changed page marked "*"), and each visible control with its
// id, label and value; a control that cannot be used now says so. Every
// change goes through the ModalSession, so the page's own handlers decide
// what follows; a refused action prints the session's message.
//
// The line protocol (one command a line; ids as shown, items and pages
// counted from 1):
//   set ID TEXT      types TEXT into an edit field (TEXT may be empty)
//   lines ID         the following lines, up to one holding only ".", become
//                    the text of a field of several lines
//   check ID on|off  sets a check box
//   select ID N      chooses item N of a list
//   click ID         clicks a button (or toggles a check box)
//   page N, next, back
//   ok, cancel       confirms or cancels the dialog
//   show, help       shows the page again, lists the commands
// A folder or program chooser asks for a path instead (relative to the
// folder it starts at, "~" for the home folder; an empty line cancels), and
// a question for "yes" or "no". End of input cancels the dialog, a chooser
// and a question alike.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "mfc/DialogDriver.h"

class TerminalDialogDriver : public DialogDriver {
public:
    // Reads commands from `in` and shows pages on `out`; neither is owned.
    // Prompts are written only when `in` is a terminal.
    TerminalDialogDriver(std::FILE* in, std::FILE* out);

    INT_PTR runModal(ModalSession& session) override;
    // Asks for an existing folder.
    std::optional<terbin::TBString> chooseFolder(const FolderChoice& choice) override;
    // Asks for an existing file (for an open chooser), else for a path in an
    // existing folder.
    std::optional<terbin::TBString> chooseFile(const FileChoice& choice) override;
    bool askYesNo(const terbin::TBString& question) override;

private:
    // The next line without its line end; nothing at the end of input.
    std::optional<std::string> readLine(const char* prompt);
    void show(const ModalSession& session);
    void showHelp();
    // Carries out one command line on `session`; false when it was refused
    // or not understood (with the reason printed).
    bool perform(ModalSession& session, const std::string& line);
    // A path typed for a chooser that starts at `start`, made absolute;
    // nothing when the person cancelled.
    std::optional<std::string> askPath(const std::string& what, const std::string& start);
    void print(const std::string& text);

    std::FILE* in_;
    std::FILE* out_;
    bool interactive_;
};
