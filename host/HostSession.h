// What every command of the ulvaren host needs: the registry chosen on the
// command line, the application object started as the desktop program
// would start it, and the catalogue loaded.
#pragma once

#include <string>

#include "mfc/afxwin.h"

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

private:
    CWnd mainWindow_;
};

// Path of `path` made absolute against the current folder.
std::string absolutePath(const std::string& path);
