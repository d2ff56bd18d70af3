// A dialog driver for tests: a queue of steps (type, check, select, click,
// go to a page, confirm, cancel, answer a chooser) worked through in order
// against every dialog that opens, recording what each step left on screen.
//
// A chooser (folder or file) takes its answer from the next step when that is
// an answer to it, else it counts as cancelled; a yes-or-no question likewise
// takes the next step's answer, else it is answered no. A nested dialog opened by a
// handler works through the following steps. When the steps run out while a
// dialog is still open, the dialog is cancelled and `leftOpen` counts it.
#pragma once

#include <deque>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/TBString.h"
#include "mfc/DialogDriver.h"

class ScriptedDialogDriver : public DialogDriver {
public:
    // What one step left on screen.
    struct Shown {
        // The step, as a short text ("setText 1012", "confirm", "start").
        terbin::TBString step;
        // Whether the session took the action.
        bool taken = true;
        terbin::TBString caption;
        int page = 0;
        terbin::TBString pageCaption;
        std::vector<ControlRecord> controls;
        bool okEnabled = true;
        terbin::TBString message;
        bool ended = false;

        // The control `id` as shown; null when the page has none.
        const ControlRecord* control(int id) const {
            for (const ControlRecord& record : controls) {
                if (record.id == id)
                    return &record;
            }
            return nullptr;
        }
    };

    ScriptedDialogDriver() { AfxSetDialogDriver(this); }
    ~ScriptedDialogDriver() override {
        if (AfxGetDialogDriver() == this)
            AfxSetDialogDriver(nullptr);
    }

    ScriptedDialogDriver& setText(int id, const terbin::TBString& text) {
        return add({Kind::SetText, id, 0, text});
    }
    ScriptedDialogDriver& check(int id, int value) { return add({Kind::Check, id, value, {}}); }
    ScriptedDialogDriver& select(int id, int index) { return add({Kind::Select, id, index, {}}); }
    ScriptedDialogDriver& click(int id) { return add({Kind::Click, id, 0, {}}); }
    ScriptedDialogDriver& goToPage(int index) { return add({Kind::GoToPage, 0, index, {}}); }
    ScriptedDialogDriver& next() { return add({Kind::Next, 0, 0, {}}); }
    ScriptedDialogDriver& back() { return add({Kind::Back, 0, 0, {}}); }
    ScriptedDialogDriver& confirm() { return add({Kind::Confirm, 0, 0, {}}); }
    ScriptedDialogDriver& cancel() { return add({Kind::Cancel, 0, 0, {}}); }
    // The next folder chooser gets `path`; nothing cancels it.
    ScriptedDialogDriver& answerFolder(std::optional<terbin::TBString> path) {
        return add({Kind::AnswerFolder, 0, 0, path.value_or(L""), path.has_value()});
    }
    ScriptedDialogDriver& answerFile(std::optional<terbin::TBString> path) {
        return add({Kind::AnswerFile, 0, 0, path.value_or(L""), path.has_value()});
    }
    // The next yes-or-no question gets `yes`.
    ScriptedDialogDriver& answerQuestion(bool yes) {
        return add({Kind::AnswerQuestion, 0, yes ? 1 : 0, {}});
    }

    INT_PTR runModal(ModalSession& session) override {
        ++sessions;
        record(session, L"start", true);
        while (!session.hasEnded() && !steps_.empty()) {
            const Step step = steps_.front();
            steps_.pop_front();
            const bool taken = perform(session, step);
            record(session, describe(step), taken);
        }
        if (!session.hasEnded())
            ++leftOpen;
        return session.result();
    }

    std::optional<terbin::TBString> chooseFolder(const FolderChoice& choice) override {
        folderRequests.push_back(choice);
        return takeAnswer(Kind::AnswerFolder);
    }

    std::optional<terbin::TBString> chooseFile(const FileChoice& choice) override {
        fileRequests.push_back(choice);
        return takeAnswer(Kind::AnswerFile);
    }

    bool askYesNo(const terbin::TBString& question) override {
        questions.push_back(question);
        if (steps_.empty() || steps_.front().kind != Kind::AnswerQuestion)
            return false;
        const bool yes = steps_.front().value != 0;
        steps_.pop_front();
        return yes;
    }

    // Everything shown, one entry at each session's start and after each step.
    std::vector<Shown> shown;
    std::vector<FolderChoice> folderRequests;
    std::vector<FileChoice> fileRequests;
    std::vector<terbin::TBString> questions;
    int sessions = 0;
    int leftOpen = 0;
    // Steps not used when the last dialog closed.
    size_t unusedSteps() const { return steps_.size(); }

private:
    enum class Kind {
        SetText,
        Check,
        Select,
        Click,
        GoToPage,
        Next,
        Back,
        Confirm,
        Cancel,
        AnswerFolder,
        AnswerFile,
        AnswerQuestion
    };
    struct Step {
        Kind kind;
        int id;
        int value;
        terbin::TBString text;
        bool answered = true;
    };

    ScriptedDialogDriver& add(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }

    std::optional<terbin::TBString> takeAnswer(Kind kind) {
        if (steps_.empty() || steps_.front().kind != kind)
            return std::nullopt;
        const Step step = steps_.front();
        steps_.pop_front();
        return step.answered ? std::optional<terbin::TBString>(step.text) : std::nullopt;
    }

    static bool perform(ModalSession& session, const Step& step) {
        switch (step.kind) {
            case Kind::SetText:
                return session.setText(step.id, step.text);
            case Kind::Check:
                return session.setCheck(step.id, step.value);
            case Kind::Select:
                return session.select(step.id, step.value);
            case Kind::Click:
                return session.click(step.id);
            case Kind::GoToPage:
                return session.setActivePage(step.value);
            case Kind::Next:
                return session.next();
            case Kind::Back:
                return session.back();
            case Kind::Confirm:
                return session.confirm();
            case Kind::Cancel:
                session.cancel();
                return true;
            case Kind::AnswerFolder:
            case Kind::AnswerFile:
            case Kind::AnswerQuestion:
                // An answer nothing asked for.
                return false;
        }
        return false;
    }

    static terbin::TBString describe(const Step& step) {
        static const wchar_t* const names[] = {
            L"setText", L"check",   L"select", L"click",        L"goToPage",   L"next",
            L"back",    L"confirm", L"cancel", L"answerFolder", L"answerFile", L"answerQuestion"};
        terbin::TBString text = names[static_cast<int>(step.kind)];
        if (step.id != 0)
            text += L" " + terbin::TBString::valueOf(step.id);
        return text;
    }

    void record(const ModalSession& session, const terbin::TBString& step, bool taken) {
        shown.push_back(Shown{step, taken, session.caption(), session.activePage(),
                              session.pageCaption(session.activePage()), session.controls(),
                              session.isOkEnabled(), session.message(), session.hasEnded()});
    }

    std::deque<Step> steps_;
};

// The driver for a test that also looks at what a dialog paints: it has the
// dialog paint its background into `dc` when it opens.
struct PaintingDriver : ScriptedDialogDriver {
    INT_PTR runModal(ModalSession& session) override {
        EXPECT_TRUE(session.paintBackground(dc));
        return ScriptedDialogDriver::runModal(session);
    }
    CDC dc;
};
