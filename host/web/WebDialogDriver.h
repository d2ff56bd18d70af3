// The dialog driver of `ulvaren ui`: shows the open dialog or sheet, and a
// folder or file chooser or a question above it, in the page, and works
// them from the page's requests.
//
// No server thread waits for a person. An action the page sends is checked
// against the topmost open thing when its call is answered, and carried out
// on the user-interface thread right after that call (runQueued), so the
// next state the page reads shows its outcome. While anything is open, its
// modal loop keeps the user-interface thread serving through the host's step
// function: the main window's messages, the server's calls and the queued
// work, as the main loop would.
//
// An open dialog, chooser or question is cancelled when the page has sent no
// request for the idle time-out (the browser went away) and when the process
// is told to stop; none opens while it is stopping.
//
// Threads: noteRequest on any thread; everything else on the
// user-interface thread.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/web/WebServer.h"
#include "mfc/DialogDriver.h"

class WebDialogDriver : public DialogDriver {
public:
    // How long an open dialog waits for word from its page. A browser may
    // slow the timers of a tab left in the background to one a minute, so
    // the wait spans a few of those before the page counts as gone.
    static constexpr std::chrono::milliseconds DefaultIdleTimeout{180'000};
    // Most entries a chooser lists of one folder.
    static constexpr size_t MaxEntries = 2000;

    // `step` waits a short while for the main window's next message and
    // handles it, then takes the waiting calls, running queued work after
    // each. `idleTimeout` is how long a page may stay silent.
    explicit WebDialogDriver(std::function<void()> step,
                             std::chrono::milliseconds idleTimeout = DefaultIdleTimeout);
    ~WebDialogDriver() override;

    INT_PTR runModal(ModalSession& session) override;
    // Browses the folders of this machine, from the choice's start folder
    // (the home folder when it has none or it is not a folder).
    std::optional<terbin::TBString> chooseFolder(const FolderChoice& choice) override;
    // Browses folders and files, from the folder of the choice's file name
    // (else the home folder); an open chooser takes an existing file only.
    std::optional<terbin::TBString> chooseFile(const FileChoice& choice) override;
    bool askYesNo(const terbin::TBString& question) override;

    // A request with the session's cookie has arrived. Any thread.
    void noteRequest();

    // Whether a dialog, chooser or question is open.
    bool isOpen() const { return !frames_.empty(); }
    // "dialog" of GET /api/state: null, or the topmost open dialog with its
    // pages, the active page's visible controls, its buttons, message,
    // focused control and background ("picture": the address of
    // backgroundPicture(), or a "colour"), and "chooser" and "question" (null unless one of
    // them is open above it).
    nlohmann::json describe() const;
    // POST /api/dialog {"serial": N, "action": A, "id": ID, "text": T,
    // "value": V, "name": NAME}. 400 for a malformed request or an action
    // the topmost open thing does not take, 409 when nothing is open or N is
    // not the topmost open thing's serial: nothing changes. Otherwise the
    // action is queued and 200 {"queued": true} answered; what it led to
    // (a refusal's message, a new page, a chooser) is in the next state.
    WebReply act(const std::string& body);

    // The picture the topmost dialog paints as its background (PNG); empty
    // when it paints none.
    std::string backgroundPicture() const;

    // Queues `work` to run at the next runQueued().
    void queue(std::function<void()> work);
    // Runs the queued work, oldest first, including what it queues itself.
    void runQueued();

private:
    struct Frame;

    // The topmost dialog; null when none is open.
    Frame* topDialog() const;

    // Puts `frame` in front and serves until `done` says so; takes it away
    // again. False when it was given up (the page is gone, the process
    // stops); then `what` is reported on standard error.
    bool serve(Frame& frame, const std::function<bool()>& done, const std::string& what);
    std::optional<terbin::TBString> browse(Frame& chooser);
    void perform(Frame& frame, const nlohmann::json& request);
    void performOnChooser(Frame& frame, const std::string& action, const std::string& name);
    int nextSerial() { return ++lastSerial_; }

    std::function<void()> step_;
    const std::chrono::milliseconds idleTimeout_;
    // steady_clock ticks of the last request.
    std::atomic<int64_t> lastRequest_;
    // What is open, the front last; each is owned by the loop serving it.
    std::vector<Frame*> frames_;
    std::deque<std::function<void()>> queued_;
    int lastSerial_ = 0;
};
