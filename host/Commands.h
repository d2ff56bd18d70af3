// The commands of the ulvaren host. Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "host/HostSession.h"

// Every set with its index, name, status, last run's figures and log.
int listSets(const HostOptions& options);

// Adds a set from each definition file; with `target` not empty, gives the
// new sets that target folder. 0 when every file was added, else 1.
int importSets(const HostOptions& options, const std::vector<std::string>& files,
               const std::string& target);

// Runs the named sets (index or name), or with `all` every set that start-all
// takes, showing progress. 0 when every run ended Complete, 1 when any did
// not, 130 when interrupted, 2 for a set that does not exist.
int runSets(const HostOptions& options, bool all, const std::vector<std::string>& sets);

// The commands that create, change and show sets (SetCommands.cpp). A set is
// named by its index or name. Each exits 1 with one line on standard error
// when the command is not available or the application refused it.
//
// Runs the backup set wizard on this terminal for a new set; 0 when it was
// saved, 1 when it was cancelled.
int newSet(const HostOptions& options);
// Runs the wizard over set `set`; 0 when it was saved, 1 when cancelled.
int editSet(const HostOptions& options, const std::string& set);
// Deletes set `set` from the catalogue and the registry; its backups stay.
int removeSet(const HostOptions& options, const std::string& set);
// Adds folder `path` to set `set`, or with `set` empty to a new set named
// after the folder, and saves that set. A folder some set holds already is
// refused, naming that set.
int addFolder(const HostOptions& options, const std::string& path, const std::string& set);
// Shows the log of the last run of set `set` (see LogViewer.h).
int viewLog(const HostOptions& options, const std::string& set);
// Shows the about box.
int showAbout(const HostOptions& options);

// The window as a page in the browser (web/UiCommand.cpp): serves it on
// 127.0.0.1:`port` (0: a free port) until Quit in the page or Ctrl-C, and
// with `openBrowser` opens it. 0 after Quit, 130 after a signal stopped the
// runs; 0 also when a window runs for this registry already (its address is
// printed).
int runWindow(const HostOptions& options, int port, bool openBrowser);
