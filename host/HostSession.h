// What every command of the ulvaren host needs: the registry chosen on the
// command line, the application object started as the desktop program
// would start it, and the catalogue loaded.
#pragma once

#include <memory>
#include <string>

#include "mfc/afxwin.h"

class TerminalDialogDriver;
class WizardEditor;

struct HostOptions {
    std::string registry;       // --registry; empty: the default store
    std::string defaultTarget;  // --default-target; empty: $ULVAREN_DEFAULT_TARGET or ~/Backups
};

// A failure to report in one line (what was wrong, and why), ending the
// command with exit status 1.
struct HostError {
    std::string message;
};

class HostSession {
public:
    // Points the registry at the chosen file (refusing one that exists but is
    // not a registry store: it is never overwritten), starts the application
    // object, fills the computer folder name and default target and loads
    // the catalogue. Throws HostError.
    explicit HostSession(const HostOptions& options);
    // Stops the pool and lets the application object delete its sets.
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    CWnd& mainWindow() { return mainWindow_; }
    // Shows dialogs on this terminal from now until the session ends: installs
    // the terminal dialog driver (reading standard input) and the backup set
    // wizard as the application's editor of sets.
    void showDialogsOnTerminal();

private:
    CWnd mainWindow_;
    std::unique_ptr<TerminalDialogDriver> driver_;
    std::unique_ptr<WizardEditor> editor_;
};

// The index in the catalogue of the set named by `word`: its index, or its
// name (letter case ignored). -1 when there is none.
int findSetIndex(const std::string& word);

// Path of `path` made absolute against the current folder.
std::string absolutePath(const std::string& path);
