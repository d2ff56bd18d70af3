// The main window of `ulvaren ui`, as the page's API sees it: the list of
// sets, the selection, the ten commands and the about box, and the dialog
// open above them. The page decides nothing itself: whether a command is
// enabled or checked is what the application object's update operation
// says on every refresh, and a command is carried out by its command
// operation.
//
// A command that shows a dialog (add, edit, about) is queued on the dialog
// driver and answered at once, with "queued": true; the dialog is in the
// next state. While a dialog is open the main window takes no command,
// selection or quit (409), as a modal dialog disables it.
//
// Threads: the user-interface thread only (see UiCalls.h).
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "backupset/RunRecords.h"
#include "host/web/WebLogView.h"
#include "host/web/WebServer.h"

class BackupSet;
class WebDialogDriver;

class WebWindow {
public:
    // Shows dialogs through `dialogs` (not owned).
    explicit WebWindow(WebDialogDriver& dialogs) : dialogs_(dialogs) {}

    // Answers GET /api/state, GET /api/background (the open dialog's
    // picture, PNG), POST /api/select {"index": N},
    // POST /api/command {"name": NAME}, POST /api/about, POST /api/dialog
    // (WebDialogDriver::act), POST /api/log (WebLogView::handle) and
    // POST /api/quit. Unknown names get 404,
    // malformed bodies 400, a command that is not available now 409 with
    // the state and a message.
    WebReply handle(const std::string& method, const std::string& name, const std::string& body);
    // WM_BACKUP_JOB_DONE: a run has ended, so its last-run record is new.
    void onJobDone() { lastRuns_.clear(); }
    // The catalogue was read again: sets may have come, gone or changed.
    void onCatalogueReloaded() { lastRuns_.clear(); }
    // Where View log shows the log (POST /api/log, "log" of the state).
    WebLogView& logView() { return log_; }
    // Whether the person asked to quit (and canClose allowed it).
    bool quitRequested() const { return quitRequested_; }

private:
    std::string state(const std::string& message);
    WebReply select(const std::string& body);
    WebReply command(const std::string& body);
    WebReply quit();
    WebReply about();
    // The state, marked as the answer of a queued command.
    WebReply queued();
    // 409 with the state while a dialog is open; nothing otherwise.
    std::optional<WebReply> refusedBehindDialog();
    // The last-run record of `set`, read once until a run ends.
    const std::optional<LastRunRecord>& lastRun(BackupSet& set);

    // By registry key: a removed set's key never comes back under it.
    std::map<std::string, std::optional<LastRunRecord>> lastRuns_;
    // When each set that is being worked on was first seen running, for its rate.
    std::map<const BackupSet*, std::chrono::steady_clock::time_point> started_;
    bool quitRequested_ = false;
    WebDialogDriver& dialogs_;
    // What a queued command left to say, shown by the next state.
    std::string notice_;
    WebLogView log_;
};
