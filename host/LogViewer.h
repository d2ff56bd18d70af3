// The log that the view-log command names, and how the terminal host shows
// it: the command hands over "notepad " and the log's path in double quotes,
// as it would start a text viewer on a desktop.
#pragma once

#include <optional>
#include <string>

#include "foundation/TBString.h"

// The path (as bytes) of the log that `commandLine` names: "notepad " and the
// path in double quotes, nothing escaped inside them. Without one, nothing,
// and the reason is left in theBaseApp.lastRefusal.
std::optional<std::string> logFileNamedIn(const terbin::TBString& commandLine);

// Shows the log named by `commandLine` in $ULVAREN_TEXT_VIEWER, else in
// $PAGER, each run in the foreground on this terminal and waited for (either
// may hold arguments, split as a shell would, without expansion); without
// either, xdg-open opens it and is not waited for. A viewer that cannot be
// started, or a command line that names no file, leaves the reason in
// theBaseApp.lastRefusal. User-interface thread.
void showLogOnTerminal(const terbin::TBString& commandLine);
