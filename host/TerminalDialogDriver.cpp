#include "host/TerminalDialogDriver.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "host/HtmlText.h"

using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBString;

namespace {

// What a person reads on a control: its label without the "&" that marks a
// keyboard shortcut elsewhere, escaped.
std::string labelOf(const ControlRecord& control) {
    return control.label.replace(L"&", L"").trimmed().escaped();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string controlLine(const ControlRecord& control) {
    const std::string id = std::to_string(control.id);
    const std::string lead = "  " + std::string(id.size() < 5 ? 5 - id.size() : 0, ' ') + id + "  ";
    const std::string indent(lead.size() + 2, ' ');
    std::string line;
    switch (control.kind) {
        case ControlKind::Static:
            return control.label.isEmpty() ? std::string() : indent + labelOf(control) + "\n";
        case ControlKind::Group:
            return "  -- " + labelOf(control) + " --\n";
        case ControlKind::Picture:
            return std::string();
        case ControlKind::Html:
            for (const std::string& text : splitLines(htmlAsText(control.label.narrow())))
                line += indent + TBString::escapeBytes(text) + "\n";
            return line;
        case ControlKind::Edit:
            line = lead + labelOf(control) + ": \"" + control.text.escaped() + "\"";
            break;
        case ControlKind::MultiLineEdit:
            line = lead + labelOf(control) + ":";
            if (control.text.isEmpty()) {
                line += " (empty)";
            } else {
                for (const std::string& text : splitLines(control.text.narrow()))
                    line += "\n" + indent + "| " + TBString::escapeBytes(text);
            }
            break;
        case ControlKind::CheckBox:
            line = lead + (control.check ? "[x] " : "[ ] ") + labelOf(control);
            break;
        case ControlKind::Button:
            line = lead + "<" + labelOf(control) + ">";
            break;
        case ControlKind::ComboBox:
            line = lead + labelOf(control) + ": " +
                   (control.selection >= 0
                        ? std::to_string(control.selection + 1) + " " + control.text.escaped()
                        : std::string("(none chosen)"));
            line += "\n" + indent + "items:";
            for (int i = 0; i < control.items.size(); ++i)
                line += "  " + std::to_string(i + 1) + " " + control.items[i].escaped();
            break;
    }
    if (!control.enabled)
        line += "  (not available now)";
    return line + "\n";
}

// "on" and "off" and the other usual ways of saying them; -1 for neither.
int checkValue(const std::string& word) {
    for (const char* on : {"on", "1", "yes", "x"}) {
        if (word == on)
            return 1;
    }
    for (const char* off : {"off", "0", "no"}) {
        if (word == off)
            return 0;
    }
    return -1;
}

// `word` as a whole number; nothing when it is not one.
std::optional<int> numberOf(const std::string& word) {
    if (word.empty() || word.size() > 9 ||
        word.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::atoi(word.c_str());
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One command line: its verb (lower case), the word after it (a control's id
// or a page number) and the rest exactly as typed after one space, so that
// a typed text keeps its leading and trailing spaces.
struct CommandLine {
    std::string verb;
    std::string target;
    std::string argument;
};

CommandLine parseCommand(const std::string& line) {
    CommandLine command;
    size_t at = line.find_first_not_of(" \t");
    const auto word = [&] {
        const size_t end = std::min(line.find(' ', at), line.size());
        std::string text = line.substr(at, end - at);
        at = end;
        return text;
    };
    if (at == std::string::npos)
        return command;
    command.verb = lowered(word());
    at = std::min(line.find_first_not_of(' ', at), line.size());
    command.target = word();
    if (at < line.size())
        command.argument = line.substr(at + 1);
    return command;
}

const char* const HelpText =
    "  set ID TEXT       type TEXT into a field (nothing after the id empties it)\n"
    "  lines ID          the lines that follow, up to a line holding only \".\",\n"
    "                    become the text of a field of several lines\n"
    "  check ID on|off   set a check box\n"
    "  select ID N       choose item N of a list\n"
    "  click ID          click a button\n"
    "  page N, next, back   go to another page\n"
    "  ok, cancel        confirm or cancel\n"
    "  show, help        show the page again, show this list\n";

}  // namespace

TerminalDialogDriver::TerminalDialogDriver(std::FILE* in, std::FILE* out)
    : in_(in), out_(out), interactive_(isatty(fileno(in)) != 0) {}

void TerminalDialogDriver::print(const std::string& text) {
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

std::optional<std::string> TerminalDialogDriver::readLine(const char* prompt) {
    if (interactive_)
        print(prompt);
    char* buffer = nullptr;
    size_t capacity = 0;
    const ssize_t length = ::getline(&buffer, &capacity, in_);
    std::optional<std::string> line;
    if (length >= 0)
        line = std::string(buffer, static_cast<size_t>(length));
    std::free(buffer);
    if (!line)
        return line;
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
    // A script's lines are shown where a person's typing would be.
    if (!interactive_)
        print(std::string(prompt) + TBString::escapeBytes(*line) + "\n");
    return line;
}

void TerminalDialogDriver::show(const ModalSession& session) {
    std::string text = "\n== " + session.caption().escaped() + "\n";
    if (session.isSheet()) {
        text += "pages:";
        for (int i = 0; i < session.pageCount(); ++i) {
            std::string page = std::to_string(i + 1) + " " + session.pageCaption(i).escaped() +
                               (session.isPageModified(i) ? "*" : "");
            text += i == session.activePage() ? "  [" + page + "]" : "  " + page;
        }
        text += "\n";
    }
    for (const ControlRecord& control : session.controls()) {
        if (control.visible)
            text += controlLine(control);
    }
    text += session.isOkEnabled() ? "OK is available.\n" : "OK is not available yet.\n";
    print(text);
}

void TerminalDialogDriver::showHelp() {
    print(HelpText);
}

INT_PTR TerminalDialogDriver::runModal(ModalSession& session) {
    show(session);
    if (interactive_)
        print("(type help for the commands)\n");
    while (!session.hasEnded()) {
        const std::optional<std::string> line = readLine("> ");
        if (!line) {
            print("end of input: cancelled\n");
            session.cancel();
            break;
        }
        if (trimmed(*line).empty())
            continue;
        perform(session, *line);
        if (!session.hasEnded() && !session.message().isEmpty())
            print("refused: " + session.message().escaped() + "\n");
    }
    return session.result();
}

bool TerminalDialogDriver::perform(ModalSession& session, const std::string& line) {
    const CommandLine command = parseCommand(line);
    const std::string& verb = command.verb;
    if (verb == "help") {
        showHelp();
        return true;
    }
    if (verb == "show") {
        show(session);
        return true;
    }
    const bool onControl =
        verb == "set" || verb == "lines" || verb == "check" || verb == "select" || verb == "click";
    const std::optional<int> number = numberOf(command.target);
    if (onControl && !number) {
        print("say which control, by the id shown before it: " + verb + " ID ...\n");
        return false;
    }
    bool taken = false;
    if (verb == "ok") {
        taken = session.confirm();
    } else if (verb == "cancel") {
        session.cancel();
        taken = true;
    } else if (verb == "next") {
        taken = session.next();
    } else if (verb == "back") {
        taken = session.back();
    } else if (verb == "page") {
        if (!number) {
            print("say which page, counted from 1: page N\n");
            return false;
        }
        taken = session.setActivePage(*number - 1);
    } else if (verb == "set") {
        taken = session.setText(*number, TBString::fromBytes(command.argument));
    } else if (verb == "lines") {
        std::string text;
        for (bool first = true;; first = false) {
            const std::optional<std::string> next = readLine("| ");
            if (!next || *next == ".")
                break;
            text += (first ? "" : "\r\n") + *next;
        }
        taken = session.setText(*number, TBString::fromBytes(text));
    } else if (verb == "check") {
        const int value = checkValue(lowered(trimmed(command.argument)));
        if (value < 0) {
            print("say on or off: check ID on|off\n");
            return false;
        }
        taken = session.setCheck(*number, value);
    } else if (verb == "select") {
        const std::optional<int> item = numberOf(trimmed(command.argument));
        if (!item) {
            print("say which item, counted from 1: select ID N\n");
            return false;
        }
        taken = session.select(*number, *item - 1);
    } else if (verb == "click") {
        taken = session.click(*number);
    } else {
        print("not a command: " + TBString::escapeBytes(verb) + " (type help for the commands)\n");
        return false;
    }
    if (!session.hasEnded())
        show(session);
    return taken;
}

std::optional<std::string> TerminalDialogDriver::askPath(const std::string& what,
                                                         const std::string& start) {
    print(what + " (relative to " + TBString::escapeBytes(start) + "; an empty line cancels)\n");
    const std::optional<std::string> line = readLine("path: ");
    if (!line || line->empty())
        return std::nullopt;
    std::string path = *line;
    if (path == "~" || path.starts_with("~/"))
        path = homeFolder() + path.substr(1);
    else if (!path.starts_with("/"))
        path = start + "/" + path;
    return TBFilename::fix(TBString::fromBytes(path)).narrow();
}

std::optional<TBString> TerminalDialogDriver::chooseFolder(const FolderChoice& choice) {
    const std::string start = !choice.startFolder.isEmpty() &&
                                      choice.startFolder.startsWith(L"/") &&
                                      TBFileInfo::isFolder(choice.startFolder)
                                  ? choice.startFolder.narrow()
                                  : homeFolder();
    const std::string title =
        choice.title.isEmpty() ? std::string("Choose a folder") : choice.title.escaped();
    for (;;) {
        const std::optional<std::string> path = askPath(title, start);
        if (!path) {
            print("no folder chosen\n");
            return std::nullopt;
        }
        const TBString folder = TBString::fromBytes(*path);
        if (TBFileInfo::isFolder(folder))
            return folder;
        print("there is no folder " + folder.escaped() + "\n");
    }
}

std::optional<TBString> TerminalDialogDriver::chooseFile(const FileChoice& choice) {
    const TBString given = TBFilename::dirname(choice.fileName);
    const std::string start =
        given.startsWith(L"/") && TBFileInfo::isFolder(given) ? given.narrow() : homeFolder();
    for (;;) {
        const std::optional<std::string> path =
            askPath(choice.open ? "Choose a file" : "Name a file", start);
        if (!path) {
            print("no file chosen\n");
            return std::nullopt;
        }
        const TBString file = TBString::fromBytes(*path);
        if (choice.open
                ? TBFileInfo::isFile(file)
                : TBFileInfo::isFolder(TBFilename::dirname(file)) && !TBFileInfo::isFolder(file))
            return file;
        print((choice.open ? "there is no file " : "no file can be written at ") + file.escaped() +
              "\n");
    }
}

bool TerminalDialogDriver::askYesNo(const TBString& question) {
    print(question.escaped() + " (yes or no)\n");
    for (;;) {
        const std::optional<std::string> line = readLine("yes/no: ");
        if (!line) {
            print("end of input: no\n");
            return false;
        }
        const std::string answer = lowered(trimmed(*line));
        if (answer == "yes" || answer == "y")
            return true;
        if (answer == "no" || answer == "n")
            return false;
        print("answer yes or no\n");
    }
}
