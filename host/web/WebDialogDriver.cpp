#include "host/web/WebDialogDriver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/HtmlText.h"
#include "host/Signals.h"
#include "mfc/MfcExt.h"

using nlohmann::json;
using terbin::TBString;

namespace {

int64_t ticksNow() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home == '/' ? home : "/";
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string& folder) {
    const size_t slash = folder.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

// A name the page may send for an entry of the listed folder: one
// component, never one that leads elsewhere.
bool isEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// `path` as a chooser may start at: an absolute path of a folder, without a
// trailing slash; else the home folder.
std::string startFolder(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder.starts_with("/") && isFolder(folder) ? folder : homeFolder();
}

const char* kindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Static:
            return "static";
        case ControlKind::Edit:
            return "edit";
        case ControlKind::MultiLineEdit:
            return "multiline";
        case ControlKind::Button:
            return "button";
        case ControlKind::CheckBox:
            return "check";
        case ControlKind::ComboBox:
            return "combo";
        case ControlKind::Picture:
            return "picture";
        case ControlKind::Html:
            return "html";
        case ControlKind::Group:
            return "group";
    }
    return "static";
}

bool followable(const std::string& address) {
    return strncasecmp(address.c_str(), "http://", 7) == 0 ||
           strncasecmp(address.c_str(), "https://", 8) == 0;
}

// The formatted text as segments the page builds with its own elements:
// only line breaks, paragraphs and web links; a link to anywhere else is
// its text.
json segmentsOf(const std::string& html) {
    json segments = json::array();
    for (const HtmlSegment& segment : htmlSegments(html)) {
        switch (segment.kind) {
            case HtmlSegment::Kind::Text:
                segments.push_back({{"kind", "text"}, {"text", segment.text}});
                break;
            case HtmlSegment::Kind::LineBreak:
                segments.push_back({{"kind", "break"}});
                break;
            case HtmlSegment::Kind::Paragraph:
                segments.push_back({{"kind", "paragraph"}});
                break;
            case HtmlSegment::Kind::Link:
                if (followable(segment.address)) {
                    segments.push_back(
                        {{"kind", "link"},
                         {"text", segment.text.empty() ? segment.address : segment.text},
                         {"href", segment.address}});
                } else if (!segment.text.empty()) {
                    segments.push_back({{"kind", "text"}, {"text", segment.text}});
                }
                break;
        }
    }
    return segments;
}

// `colour` (0x00BBGGRR) as CSS; null for the default and for none.
json cssColour(COLORREF colour) {
    if ((colour & 0xFF000000) != 0)
        return nullptr;
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF,
                  (colour >> 16) & 0xFF);
    return text;
}

// How a coloured text control asks to be drawn; null for any other.
json styleOf(const CDialogItem* bound) {
    const auto* coloured = dynamic_cast<const CColorStatic*>(bound);
    if (coloured == nullptr)
        return nullptr;
    // A weight of 1 is the bold flag; larger ones are weights as fonts count them.
    const int weight = coloured->fontWeight();
    return json{{"colour", cssColour(coloured->textColour())},
                {"background", cssColour(coloured->backgroundColour())},
                {"size", coloured->fontSize()},
                {"bold", weight == 1 || weight >= 600},
                {"padding", coloured->padding()}};
}

json controlOf(const ControlRecord& control, const CDialogItem* bound) {
    json items = json::array();
    for (int i = 0; i < control.items.size(); ++i) items.push_back(control.items[i].narrow());
    json entry{{"id", control.id},
               {"kind", kindName(control.kind)},
               {"label", control.kind == ControlKind::Html
                             ? std::string()
                             : control.label.replace(L"&", L"").trimmed().narrow()},
               {"text", control.text.narrow()},
               {"check", control.check},
               {"selection", control.selection},
               {"items", std::move(items)},
               {"enabled", control.enabled}};
    if (control.kind == ControlKind::Html)
        entry["segments"] = segmentsOf(control.label.narrow());
    entry["style"] = styleOf(bound);
    return entry;
}

json button(const char* action, const char* label, bool enabled) {
    return json{{"action", action}, {"label", label}, {"enabled", enabled}};
}

// The buttons below the pages, as the sheet offers them, and what Enter
// does (Next, else Finish or OK).
void addButtons(const ModalSession& session, json& dialog) {
    json buttons = json::array();
    json enter = nullptr;
    const bool last = session.activePage() == session.pageCount() - 1;
    if (session.isWizard()) {
        // Finish is offered on the last page only.
        buttons.push_back(button("back", "< Back", session.activePage() > 0));
        if (last) {
            buttons.push_back(button("ok", "Finish", session.isOkEnabled()));
            enter = json{{"action", "ok"}};
        } else {
            buttons.push_back(button("next", "Next >", true));
            enter = json{{"action", "next"}};
        }
        buttons.push_back(button("cancel", "Cancel", true));
    } else if (session.isSheet()) {
        // Pages open in any order (the tabs); Back and Next walk them too.
        buttons.push_back(button("back", "< Back", session.activePage() > 0));
        buttons.push_back(button("next", "Next >", !last));
        buttons.push_back(button("ok", "OK", session.isOkEnabled()));
        buttons.push_back(button("cancel", "Cancel", true));
        enter = json{{"action", last ? "ok" : "next"}};
    } else {
        // A plain dialog's own OK and Cancel buttons are among its controls.
        const ControlRecord* ok = session.control(IDOK);
        const ControlRecord* cancel = session.control(IDCANCEL);
        if (!ok)
            buttons.push_back(button("ok", "OK", session.isOkEnabled()));
        if (!ok && !cancel)
            buttons.push_back(button("cancel", "Cancel", true));
        enter = json{{"action", "ok"}};
    }
    dialog["buttons"] = std::move(buttons);
    dialog["enter"] = std::move(enter);
}

}  // namespace

// One open thing: a dialog's session, a chooser or a question, with what
// the person answered.
struct WebDialogDriver::Frame {
    enum class Kind { Dialog, FolderChooser, FileChooser, Question };
    Kind kind = Kind::Dialog;
    int serial = 0;
    ModalSession* session = nullptr;

    // A chooser: what it is for, the folder it shows and that folder's
    // entries (sorted; beyond MaxEntries only counted), why the last step
    // was refused.
    std::string title;
    bool saving = false;
    std::string folder;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    size_t notShown = 0;
    std::string message;

    // A question's text.
    std::string text;

    bool answered = false;
    std::optional<std::string> chosen;
    bool yes = false;

    // Lists `path` and shows it; when it cannot be listed, stays where it
    // is and says why.
    bool open(const std::string& path) {
        DIR* listing = ::opendir(path.c_str());
        if (listing == nullptr) {
            message = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
        std::vector<std::pair<std::string, bool>> found;
        const int fd = ::dirfd(listing);
        errno = 0;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st {};
            // Links count as what they lead to: a link to a folder is opened
            // like one.
            const bool folderEntry = ::fstatat(fd, entry->d_name, &st, 0) == 0
                                         ? S_ISDIR(st.st_mode)
                                         : entry->d_type == DT_DIR;
            if (folderEntry || kind == Kind::FileChooser)
                found.emplace_back(name, folderEntry);
            errno = 0;
        }
        const int error = errno;
        ::closedir(listing);
        if (error != 0) {
            message = "cannot list " + path + ": " + std::strerror(error);
            return false;
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
            const int order = strcasecmp(a.first.c_str(), b.first.c_str());
            return order != 0 ? order < 0 : a.first < b.first;
        });
        notShown = found.size() > MaxEntries ? found.size() - MaxEntries : 0;
        found.resize(std::min(found.size(), MaxEntries));
        folder = path;
        entries = std::move(found);
        message.clear();
        return true;
    }
};

WebDialogDriver::WebDialogDriver(std::function<void()> step, std::chrono::milliseconds idleTimeout)
    : step_(std::move(step)), idleTimeout_(idleTimeout), lastRequest_(ticksNow()) {}

WebDialogDriver::~WebDialogDriver() = default;

void WebDialogDriver::noteRequest() {
    lastRequest_ = ticksNow();
}

bool WebDialogDriver::serve(Frame& frame, const std::function<bool()>& done,
                            const std::string& what) {
    frames_.push_back(&frame);
    const auto idle = [&] {
        const std::chrono::steady_clock::duration since(ticksNow() - lastRequest_.load());
        return since > idleTimeout_;
    };
    bool served = true;
    while (!done()) {
        if (interruptRequested()) {
            served = false;
            std::fprintf(stderr, "ulvaren ui: stopping: %s cancelled\n", what.c_str());
            break;
        }
        if (idle()) {
            served = false;
            std::fprintf(stderr, "ulvaren ui: no word from the page for %lld ms: %s cancelled\n",
                         static_cast<long long>(idleTimeout_.count()), what.c_str());
            break;
        }
        step_();
    }
    frames_.pop_back();
    return served;
}

INT_PTR WebDialogDriver::runModal(ModalSession& session) {
    Frame frame;
    frame.kind = Frame::Kind::Dialog;
    frame.serial = nextSerial();
    frame.session = &session;
    const std::string what = "the dialog \"" + session.caption().narrow() + "\"";
    if (!serve(
            frame, [&] { return session.hasEnded(); }, what))
        session.cancel();
    std::fflush(stderr);
    return session.result();
}

std::optional<TBString> WebDialogDriver::browse(Frame& chooser) {
    chooser.serial = nextSerial();
    const std::string start = chooser.folder;
    if (!chooser.open(start) && start != homeFolder())
        chooser.open(homeFolder());
    if (!serve(
            chooser, [&] { return chooser.answered; }, "the chooser"))
        return std::nullopt;
    if (!chooser.chosen)
        return std::nullopt;
    return TBString::fromBytes(*chooser.chosen);
}

std::optional<TBString> WebDialogDriver::chooseFolder(const FolderChoice& choice) {
    Frame chooser;
    chooser.kind = Frame::Kind::FolderChooser;
    chooser.title = choice.title.isEmpty() ? "Choose a folder" : choice.title.narrow();
    chooser.folder = startFolder(choice.startFolder.narrow());
    return browse(chooser);
}

std::optional<TBString> WebDialogDriver::chooseFile(const FileChoice& choice) {
    Frame chooser;
    chooser.kind = Frame::Kind::FileChooser;
    chooser.saving = !choice.open;
    chooser.title = choice.open ? "Choose a file" : "Name a file";
    const std::string given = choice.fileName.narrow();
    chooser.folder =
        startFolder(given.find('/') == std::string::npos ? std::string() : parentOf(given));
    return browse(chooser);
}

bool WebDialogDriver::askYesNo(const TBString& question) {
    Frame asked;
    asked.kind = Frame::Kind::Question;
    asked.serial = nextSerial();
    asked.text = question.narrow();
    return serve(
               asked, [&] { return asked.answered; }, "the question") &&
           asked.yes;
}

WebDialogDriver::Frame* WebDialogDriver::topDialog() const {
    const auto found = std::find_if(frames_.rbegin(), frames_.rend(), [](const Frame* frame) {
        return frame->kind == Frame::Kind::Dialog;
    });
    return found == frames_.rend() ? nullptr : *found;
}

namespace {

// What `session` paints behind its controls: a picture resource, or a colour.
void addBackground(ModalSession& session, json& dialog) {
    CDC dc;
    session.paintBackground(dc);
    json background{{"picture", nullptr}, {"colour", nullptr}};
    for (const CDC::Operation& operation : dc.operations()) {
        if (operation.kind == CDC::Operation::Kind::DrawPicture) {
            background["picture"] = "/api/background";
        } else {
            background["colour"] = cssColour(operation.colour);
        }
    }
    dialog["background"] = std::move(background);
}

}  // namespace

std::string WebDialogDriver::backgroundPicture() const {
    const Frame* dialog = topDialog();
    if (dialog == nullptr)
        return std::string();
    CDC dc;
    dialog->session->paintBackground(dc);
    for (const CDC::Operation& operation : dc.operations()) {
        if (operation.kind != CDC::Operation::Kind::DrawPicture)
            continue;
        const std::vector<uint8_t> bytes = AfxFindPicture(operation.pictureId);
        if (isPngImage(bytes))
            return std::string(bytes.begin(), bytes.end());
    }
    return std::string();
}

json WebDialogDriver::describe() const {
    if (frames_.empty())
        return nullptr;
    json dialog{{"serial", 0},
                {"caption", ""},
                {"sheet", false},
                {"wizard", false},
                {"pages", json::array()},
                {"controls", json::array()},
                {"okEnabled", false},
                {"buttons", json::array()},
                {"enter", nullptr},
                {"message", ""},
                {"focus", 0},
                {"background", nullptr}};
    if (const Frame* front = topDialog()) {
        ModalSession& session = *front->session;
        dialog["serial"] = front->serial;
        dialog["caption"] = session.caption().narrow();
        dialog["sheet"] = session.isSheet();
        dialog["wizard"] = session.isWizard();
        for (int i = 0; i < session.pageCount(); ++i) {
            dialog["pages"].push_back({{"caption", session.pageCaption(i).narrow()},
                                       {"active", i == session.activePage()},
                                       {"modified", session.isPageModified(i)}});
        }
        for (const ControlRecord& control : session.controls()) {
            if (control.visible)
                dialog["controls"].push_back(controlOf(control, session.boundControl(control.id)));
        }
        dialog["okEnabled"] = session.isOkEnabled();
        addButtons(session, dialog);
        dialog["message"] = session.message().narrow();
        dialog["focus"] = session.focusedControl();
        addBackground(session, dialog);
    }
    const Frame& top = *frames_.back();
    dialog["chooser"] = nullptr;
    dialog["question"] = nullptr;
    if (top.kind == Frame::Kind::FolderChooser || top.kind == Frame::Kind::FileChooser) {
        json entries = json::array();
        for (const auto& [name, folder] : top.entries)
            entries.push_back({{"name", name}, {"folder", folder}});
        dialog["chooser"] = {
            {"serial", top.serial},
            {"kind", top.kind == Frame::Kind::FolderChooser ? "folder" : "file"},
            {"saving", top.saving},
            {"title", top.title},
            {"folder", top.folder},
            {"entries", std::move(entries)},
            {"note",
             top.notShown == 0 ? std::string() : std::to_string(top.notShown) + " more not shown"},
            {"message", top.message}};
    } else if (top.kind == Frame::Kind::Question) {
        dialog["question"] = {{"serial", top.serial}, {"text", top.text}};
    }
    return dialog;
}

namespace {

WebReply refusal(int status, const std::string& message) {
    return WebReply{
        status, json{{"message", message}}.dump(-1, ' ', false, json::error_handler_t::replace)};
}

bool hasInteger(const json& request, const char* key) {
    return request.contains(key) && request[key].is_number_integer();
}

bool hasString(const json& request, const char* key) {
    return request.contains(key) && request[key].is_string();
}

// Why `request` does not fit an open thing of `kind`; empty when it does.
std::string misfit(const json& request, bool dialog, bool chooser, bool fileChooser) {
    const std::string action = request["action"].get<std::string>();
    if (dialog) {
        if (action == "next" || action == "back" || action == "ok" || action == "cancel")
            return std::string();
        if (action == "page")
            return hasInteger(request, "value") ? std::string() : "page needs a \"value\"";
        if (action != "set" && action != "check" && action != "select" && action != "click")
            return "a dialog does not take " + action;
        if (!hasInteger(request, "id"))
            return action + " needs the control's \"id\"";
        if (action == "set" && !hasString(request, "text"))
            return "set needs a \"text\"";
        if ((action == "check" || action == "select") && !hasInteger(request, "value") &&
            !(action == "check" && request.contains("value") && request["value"].is_boolean()))
            return action + " needs a \"value\"";
        return std::string();
    }
    if (chooser) {
        if (action == "up" || action == "cancel" || (action == "choose" && !fileChooser))
            return std::string();
        if (action == "open" || action == "choose")
            return hasString(request, "name") ? std::string() : action + " needs a \"name\"";
        return "a chooser does not take " + action;
    }
    return action == "yes" || action == "no" ? std::string() : "a question takes yes or no";
}

}  // namespace

WebReply WebDialogDriver::act(const std::string& body) {
    const json request = json::parse(body, nullptr, false);
    if (!request.is_object() || !hasInteger(request, "serial") || !hasString(request, "action"))
        return refusal(400, "expected {\"serial\": N, \"action\": ACTION, ...}");
    if (frames_.empty())
        return refusal(409, "no dialog is open");
    const Frame& top = *frames_.back();
    if (request["serial"].get<int64_t>() != top.serial)
        return refusal(409, "that dialog is not the one in front");
    const std::string why =
        misfit(request, top.kind == Frame::Kind::Dialog,
               top.kind == Frame::Kind::FolderChooser || top.kind == Frame::Kind::FileChooser,
               top.kind == Frame::Kind::FileChooser);
    if (!why.empty())
        return refusal(400, why);
    const int serial = top.serial;
    queue([this, serial, request] {
        // Nothing ran between the check and now, but a stale action must
        // never reach another dialog.
        if (!frames_.empty() && frames_.back()->serial == serial)
            perform(*frames_.back(), request);
    });
    return WebReply{200, R"({"queued":true})"};
}

void WebDialogDriver::perform(Frame& frame, const json& request) {
    const std::string action = request["action"].get<std::string>();
    if (frame.kind == Frame::Kind::Question) {
        frame.answered = true;
        frame.yes = action == "yes";
        return;
    }
    if (frame.kind != Frame::Kind::Dialog) {
        performOnChooser(frame, action, request.value("name", std::string()));
        return;
    }
    ModalSession& session = *frame.session;
    const int id = request.value("id", 0);
    const auto number = [&]() -> int {
        const json& value = request["value"];
        if (value.is_boolean())
            return value.get<bool>() ? 1 : 0;
        const int64_t given = value.get<int64_t>();
        return given < INT32_MIN || given > INT32_MAX ? -1 : static_cast<int>(given);
    };
    if (action == "set")
        session.setText(id, TBString::fromBytes(request["text"].get<std::string>()));
    else if (action == "check")
        session.setCheck(id, number());
    else if (action == "select")
        session.select(id, number());
    else if (action == "click")
        session.click(id);
    else if (action == "page")
        session.setActivePage(number());
    else if (action == "next")
        session.next();
    else if (action == "back")
        session.back();
    else if (action == "ok")
        session.confirm();
    else if (action == "cancel")
        session.cancel();
}

void WebDialogDriver::performOnChooser(Frame& chooser, const std::string& action,
                                       const std::string& name) {
    chooser.message.clear();
    if (action == "cancel") {
        chooser.answered = true;
        return;
    }
    if (action == "up") {
        chooser.open(parentOf(chooser.folder));
        return;
    }
    if (!name.empty() && !isEntryName(name)) {
        chooser.message = "\"" + name + "\" is not a name in this folder";
        return;
    }
    const std::string path = name.empty() ? chooser.folder : joined(chooser.folder, name);
    if (action == "open") {
        if (!isFolder(path))
            chooser.message = "there is no folder " + name + " here";
        else
            chooser.open(path);
        return;
    }
    // choose
    if (chooser.kind == Frame::Kind::FolderChooser) {
        if (!isFolder(path)) {
            chooser.message = "there is no folder " + name + " here";
            return;
        }
    } else if (chooser.saving ? isFolder(path) : !isFile(path)) {
        chooser.message =
            chooser.saving ? name + " is a folder" : "there is no file " + name + " here";
        return;
    }
    chooser.chosen = path;
    chooser.answered = true;
}

void WebDialogDriver::queue(std::function<void()> work) {
    queued_.push_back(std::move(work));
}

void WebDialogDriver::runQueued() {
    while (!queued_.empty()) {
        std::function<void()> work = std::move(queued_.front());
        queued_.pop_front();
        work();
    }
}
