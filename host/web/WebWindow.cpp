#include "host/web/WebWindow.h"

#include <nlohmann/json.hpp>

#include <set>

#include "base/ULVbase.h"
#include "host/Figures.h"
#include "host/web/WebDialogDriver.h"
#include "resource/resource.h"
#include "ui/AboutDialog.h"

using nlohmann::json;
using terbin::TBString;

namespace {

// The ten commands, as the toolbar and the menu show them.
struct WindowCommand {
    const char* name;  // what the page sends
    const char* label;
    UINT id;
    void (ULVbase::*update)(CCmdUI&);
    void (ULVbase::*command)();
};

constexpr WindowCommand Commands[] = {
    {"start-all", "Start all", ID_BACKUP_START, &ULVbase::OnUpdateBackupStart,
     &ULVbase::OnBackupStart},
    {"stop-all", "Stop all", ID_BACKUP_STOP, &ULVbase::OnUpdateBackupStop, &ULVbase::OnBackupStop},
    {"start", "Start", ID_START_SELECTED, &ULVbase::OnUpdateStartSelected,
     &ULVbase::OnStartSelected},
    {"stop", "Stop", ID_STOP_SELECTED, &ULVbase::OnUpdateStopSelected, &ULVbase::OnStopSelected},
    {"pause", "Pause", ID_PAUSE_SELECTED, &ULVbase::OnUpdatePauseSelected,
     &ULVbase::OnPauseSelected},
    {"pause-all", "Pause all", ID_PAUSE_ALL, &ULVbase::OnUpdatePauseAll, &ULVbase::OnPauseAll},
    {"add", "Add…", ID_ADD_BACKUP_SET, &ULVbase::OnUpdateAddBackupSet, &ULVbase::OnAddBackupSet},
    {"edit", "Edit…", ID_EDIT_BACKUP_SET, &ULVbase::OnUpdateEditBackupSet,
     &ULVbase::OnEditBackupSet},
    {"remove", "Remove", ID_REMOVE_BACKUP_SET, &ULVbase::OnUpdateRemoveBackupSet,
     &ULVbase::OnRemoveBackupSet},
    {"view-log", "View log", ID_VIEW_LOG, &ULVbase::OnUpdateViewLog, &ULVbase::OnViewLog},
};

WebReply jsonReply(int status, const json& body) {
    return WebReply{status, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

WebReply problem(int status, const std::string& message) {
    return jsonReply(status, json{{"message", message}});
}

bool beingWorkedOn(int32_t status) {
    return status == Running || status == RunningPreScript || status == RunningPostScript;
}

std::string activityText(const BackupSetState& state) {
    switch (state.activity) {
        case ScanningFolder:
            return "Scanning folder";
        case CopyingFolder:
            return "Copying folder";
        case CopyingFile:
            return "Copying file";
        case RemovingFolder:
            return "Removing folder";
        case RemovingFile:
            return "Removing file";
        default:
            return "";
    }
}

// The file or folder the activity is about.
std::string activityPath(const BackupSetState& state) {
    if (state.activity == ScanningFolder || state.activity == RemovingFolder)
        return state.message.narrow();
    return state.sourcePath.narrow();
}

}  // namespace

const std::optional<LastRunRecord>& WebWindow::lastRun(BackupSet& set) {
    const std::string key = set.registryKeyName.narrow();
    auto found = lastRuns_.find(key);
    if (found == lastRuns_.end()) {
        found = lastRuns_.emplace(key, RunRecords(set).lastRun()).first;
        // The log of a run of another process, for the view-log command.
        if (found->second && set.logFilePath.isEmpty() && !beingWorkedOn(set.status))
            set.logFilePath = found->second->logFile;
    }
    return found->second;
}

std::string WebWindow::state(const std::string& message) {
    // A queued command's word is shown once, unless a newer one replaces it.
    const std::string shown = message.empty() ? notice_ : message;
    notice_.clear();
    const auto now = std::chrono::steady_clock::now();
    json sets = json::array();
    std::set<const BackupSet*> present;
    for (BackupSet* set : theBaseApp.backupSets) {
        if (set == nullptr)
            continue;
        present.insert(set);
        BackupSetState activity;
        set->getState(activity);
        int failed = 0;
        {
            terbin::TBReadLock guard(*set);
            failed = set->failedFiles.size();
        }
        const bool working = beingWorkedOn(set->status);
        int64_t bytes = set->bytesCopied;
        std::string rate;
        if (working) {
            if (activity.activity == CopyingFile)
                bytes += activity.fileBytesCopied;
            const auto since = started_.try_emplace(set, now).first->second;
            const double seconds = std::chrono::duration<double>(now - since).count();
            rate = byteText(seconds > 0 ? static_cast<int64_t>(bytes / seconds) : 0) + "/s";
        } else {
            started_.erase(set);
        }
        json row{{"name", set->backupName.narrow()},
                 {"status", set->getStatusString().narrow()},
                 {"activity", working ? activityText(activity) : ""},
                 {"file", working ? activityPath(activity) : ""},
                 {"copied", set->filesCopied.load()},
                 {"unchanged", set->filesUnchanged.load()},
                 {"skipped", set->filesSkipped.load()},
                 {"failed", failed},
                 {"bytes", byteText(bytes)},
                 {"rate", rate},
                 {"paused", working && set->pauseRequested.load()},
                 {"lastRun", ""}};
        if (const std::optional<LastRunRecord>& last = lastRun(*set)) {
            row["lastRun"] =
                BackupSet::statusString(last->status).narrow() + ", " + timeText(last->started);
        }
        sets.push_back(std::move(row));
    }
    std::erase_if(started_, [&](const auto& entry) { return !present.contains(entry.first); });

    json commands = json::array();
    for (const WindowCommand& entry : Commands) {
        CCmdUI cmdUI(entry.id);
        (theBaseApp.*entry.update)(cmdUI);
        commands.push_back({{"name", entry.name},
                            {"label", entry.label},
                            {"enabled", cmdUI.isEnabled()},
                            {"checked", cmdUI.checkState() != 0}});
    }
    return json{{"sets", std::move(sets)},
                {"selected", theBaseApp.selectedIndex},
                {"commands", std::move(commands)},
                {"canClose", theBaseApp.canClose()},
                {"dialog", dialogs_.describe()},
                {"log", log_.describe()},
                {"message", shown}}
        .dump(-1, ' ', false, json::error_handler_t::replace);
}

WebReply WebWindow::handle(const std::string& method, const std::string& name,
                           const std::string& body) {
    if (method == "GET" && name == "state")
        return WebReply{200, state("")};
    if (method == "GET" && name == "background") {
        std::string picture = dialogs_.backgroundPicture();
        if (picture.empty())
            return problem(404, "the open dialog paints no picture");
        return WebReply{200, std::move(picture), "image/png"};
    }
    if (method != "POST")
        return problem(404, "no such request");
    if (name == "select")
        return select(body);
    if (name == "command")
        return command(body);
    if (name == "quit")
        return quit();
    if (name == "about")
        return about();
    if (name == "dialog")
        return dialogs_.act(body);
    if (name == "log")
        return log_.handle(body);
    return problem(404, "no such request");
}

std::optional<WebReply> WebWindow::refusedBehindDialog() {
    if (!dialogs_.isOpen())
        return std::nullopt;
    return WebReply{409, state("close the open dialog first")};
}

WebReply WebWindow::select(const std::string& body) {
    const json request = json::parse(body, nullptr, false);
    if (!request.is_object() || !request.contains("index") ||
        !request["index"].is_number_integer()) {
        return problem(400, "expected {\"index\": N}");
    }
    const int64_t index = request["index"].get<int64_t>();
    if (index < -1 || index >= theBaseApp.backupSets.size())
        return problem(400, "no set at that index");
    if (auto refused = refusedBehindDialog())
        return *refused;
    theBaseApp.selectedIndex = static_cast<int32_t>(index);
    return WebReply{200, state("")};
}

WebReply WebWindow::command(const std::string& body) {
    const json request = json::parse(body, nullptr, false);
    if (!request.is_object() || !request.contains("name") || !request["name"].is_string())
        return problem(400, "expected {\"name\": COMMAND}");
    const std::string name = request["name"].get<std::string>();
    const WindowCommand* found = nullptr;
    for (const WindowCommand& entry : Commands) {
        if (name == entry.name)
            found = &entry;
    }
    if (found == nullptr)
        return problem(404, "no command " + name);
    if (auto refused = refusedBehindDialog())
        return *refused;
    CCmdUI cmdUI(found->id);
    (theBaseApp.*found->update)(cmdUI);
    if (!cmdUI.isEnabled())
        return WebReply{409, state(std::string(found->label) + " is not available now")};
    if ((found->id == ID_ADD_BACKUP_SET || found->id == ID_EDIT_BACKUP_SET) &&
        theBaseApp.backupSetEditor == nullptr) {
        return WebReply{409, state("the wizard is not shown in this window: use ulvaren new or "
                                   "ulvaren edit SET in a terminal")};
    }
    if (found->id == ID_ADD_BACKUP_SET || found->id == ID_EDIT_BACKUP_SET) {
        // The wizard keeps the user-interface thread until it is closed; it
        // runs right after this answer.
        dialogs_.queue([this, found] {
            theBaseApp.lastRefusal = TBString();
            (theBaseApp.*found->command)();
            lastRuns_.clear();
            notice_ = theBaseApp.lastRefusal.narrow();
        });
        return queued();
    }
    theBaseApp.lastRefusal = TBString();
    (theBaseApp.*found->command)();
    // A removal or a finished edit may change what the records say.
    lastRuns_.clear();
    return WebReply{200, state(theBaseApp.lastRefusal.narrow())};
}

WebReply WebWindow::about() {
    if (auto refused = refusedBehindDialog())
        return *refused;
    dialogs_.queue([this] {
        if (AboutDialog::DoModalDialog() < 0)
            notice_ = "the about box could not be shown: its resources are missing";
    });
    return queued();
}

WebReply WebWindow::queued() {
    json answer = json::parse(state(""));
    answer["queued"] = true;
    return jsonReply(200, answer);
}

WebReply WebWindow::quit() {
    if (auto refused = refusedBehindDialog())
        return *refused;
    if (!theBaseApp.canClose())
        return problem(409, "backups are running: stop them before quitting");
    quitRequested_ = true;
    return jsonReply(200, json{{"quitting", true}});
}
