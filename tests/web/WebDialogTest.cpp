// The wizard, its choosers and questions, and the about box in the page of
// `ulvaren ui`, worked through the API as the page works them.
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "support/UiWindow.h"

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Wizard pages and the controls the tests work.
constexpr int TargetPage = 0, SourcePage = 1, OptionsPage = 4;
constexpr int SetName = 1008, TargetGiven = 1014, TargetText = 1005, ChooseTarget = 1006,
              Scheme = 1009, LimitCount = 1011, Count = 1012, Sources = 1004, AddSource = 1013;
// The about box's title, text and OK button.
constexpr int AboutTitle = 1018, AboutText = 1019, AboutOk = 1;

class WebDialogTest : public UiWindowTest {
protected:
    void SetUp() override {
        writeFile(dir / "src/a.txt", "alpha");
        writeFile(dir / "home/pictures/b.jpg", "beta");
        // Add needs a catalogue that is not empty.
        ASSERT_EQ(importInto(define("Docs", dir / "src"), "out"), 0);
    }

    json dialog() { return state()["dialog"]; }

    // Sends `action` (with `more`) to the topmost open thing, and expects
    // it queued.
    void act(const std::string& action, json more = json::object()) {
        const json now = dialog();
        ASSERT_TRUE(now.is_object()) << "no dialog is open";
        const json& top = !now["question"].is_null()  ? now["question"]
                          : !now["chooser"].is_null() ? now["chooser"]
                                                      : now;
        more["serial"] = top["serial"];
        more["action"] = action;
        ASSERT_EQ(post("dialog", more).status, 200) << more.dump();
    }

    static json control(const json& dialog, int id) {
        for (const json& entry : dialog["controls"]) {
            if (entry["id"] == id)
                return entry;
        }
        return json();
    }

    static int activePage(const json& dialog) {
        for (size_t i = 0; i < dialog["pages"].size(); ++i) {
            if (dialog["pages"][i]["active"] == true)
                return static_cast<int>(i);
        }
        return -1;
    }

    static std::vector<std::string> buttons(const json& dialog) {
        std::vector<std::string> actions;
        for (const json& entry : dialog["buttons"]) actions.push_back(entry["action"]);
        return actions;
    }
};

TEST_F(WebDialogTest, WizardRefusesANonNumberBrowsesAsksAndSavesOnFinish) {
    startWindow();
    signIn();
    const size_t setsBefore = state()["sets"].size();
    ASSERT_EQ(post("command", {{"name", "add"}}).status, 200);
    json wizard = dialog();
    ASSERT_TRUE(wizard.is_object());
    EXPECT_TRUE(wizard["sheet"]);
    EXPECT_EQ(wizard["pages"].size(), 5u);
    EXPECT_EQ(activePage(wizard), TargetPage);
    EXPECT_EQ(buttons(wizard), (std::vector<std::string>{"back", "next", "ok", "cancel"}));
    EXPECT_EQ(wizard["enter"]["action"], "next");
    EXPECT_FALSE(control(wizard, TargetText)["enabled"]);

    // The main window is disabled behind it; its states still come from
    // the update operations.
    for (const auto& [name, body] :
         std::vector<std::pair<std::string, json>>{{"command", {{"name", "start-all"}}},
                                                   {"command", {{"name", "add"}}},
                                                   {"select", {{"index", 0}}},
                                                   {"about", json::object()},
                                                   {"quit", json::object()}}) {
        EXPECT_EQ(post(name, body).status, 409) << name << " " << body.dump();
    }
    EXPECT_EQ(state()["commands"].size(), 10u);
    EXPECT_EQ(state()["selected"], -1);

    act("set", {{"id", SetName}, {"text", "Photos"}});
    act("check", {{"id", TargetGiven}, {"value", true}});
    act("select", {{"id", Scheme}, {"value", 1}});
    act("check", {{"id", LimitCount}, {"value", 1}});
    act("set", {{"id", Count}, {"text", "three"}});
    act("next");
    wizard = dialog();
    EXPECT_EQ(activePage(wizard), TargetPage);
    EXPECT_FALSE(wizard["message"].get<std::string>().empty());
    EXPECT_EQ(wizard["focus"], Count);
    EXPECT_EQ(control(wizard, Count)["text"], "three");

    // A stale serial and an action the dialog does not take change nothing.
    EXPECT_EQ(
        post("dialog", {{"serial", wizard["serial"].get<int>() + 7}, {"action", "next"}}).status,
        409);
    EXPECT_EQ(post("dialog", {{"serial", wizard["serial"]}, {"action", "yes"}}).status, 400);
    EXPECT_EQ(activePage(dialog()), TargetPage);

    // The target chooser starts at home; a folder that cannot be listed
    // says why and keeps the chooser where it was.
    act("set", {{"id", Count}, {"text", "3"}});
    act("click", {{"id", ChooseTarget}});
    json chooser = dialog()["chooser"];
    ASSERT_TRUE(chooser.is_object());
    EXPECT_EQ(chooser["kind"], "folder");
    EXPECT_EQ(chooser["folder"], dir / "home");
    EXPECT_EQ(chooser["entries"], json::parse(R"([{"name":"pictures","folder":true}])"));
    EXPECT_EQ(post("dialog", {{"serial", dialog()["serial"]}, {"action", "next"}}).status, 409);
    act("open", {{"name", "nothing-here"}});
    chooser = dialog()["chooser"];
    EXPECT_EQ(chooser["folder"], dir / "home");
    EXPECT_THAT(chooser["message"].get<std::string>(), HasSubstr("nothing-here"));
    act("up");
    EXPECT_EQ(dialog()["chooser"]["folder"], dir.path());
    act("choose");
    wizard = dialog();
    EXPECT_TRUE(wizard["chooser"].is_null());
    EXPECT_EQ(control(wizard, TargetText)["text"], dir.path());
    // A target that is not there yet, in a folder that is.
    act("set", {{"id", TargetText}, {"text", dir / "photo-backups"}});

    act("next");
    EXPECT_EQ(activePage(dialog()), SourcePage);
    act("click", {{"id", AddSource}});
    act("open", {{"name", "pictures"}});
    EXPECT_EQ(dialog()["chooser"]["entries"], json::array());
    act("choose");
    EXPECT_EQ(control(dialog(), Sources)["text"], dir / "home/pictures");
    for (int page = SourcePage; page < OptionsPage; ++page) act("next");
    wizard = dialog();
    EXPECT_EQ(activePage(wizard), OptionsPage);
    EXPECT_EQ(wizard["enter"]["action"], "ok");

    // Finish asks whether to make the missing target folder.
    act("ok");
    const json question = dialog()["question"];
    ASSERT_TRUE(question.is_object());
    EXPECT_THAT(question["text"].get<std::string>(), HasSubstr(dir / "photo-backups"));
    act("yes");
    const json after = state();
    EXPECT_TRUE(after["dialog"].is_null());
    ASSERT_EQ(after["sets"].size(), setsBefore + 1);
    EXPECT_EQ(after["sets"].back()["name"], "Photos");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "photo-backups"));

    // What the registry holds, as the terminal's wizard shows it.
    const Result saved = ulvaren("edit Photos </dev/null");
    EXPECT_THAT(saved.out, HasSubstr("\"" + dir / "photo-backups" + "\""));
    EXPECT_THAT(saved.out, HasSubstr(": \"3\""));
}

TEST_F(WebDialogTest, AWizardWhosePageWentAwayIsCancelledAndSavesNothing) {
    startWindow("ULVAREN_UI_IDLE_MS=2000");
    signIn();
    const size_t setsBefore = state()["sets"].size();
    ASSERT_EQ(post("command", {{"name", "add"}}).status, 200);
    act("set", {{"id", SetName}, {"text", "Gone"}});
    act("click", {{"id", ChooseTarget}});
    ASSERT_TRUE(dialog()["chooser"].is_object());
    // Nothing more from the page: the chooser, then the wizard give up.
    ASSERT_TRUE(eventually([&] {
        return readFile(dir / "ui-err").find("dialog") != std::string::npos;
    })) << readFile(dir / "ui-err");
    const json after = state();
    EXPECT_TRUE(after["dialog"].is_null());
    EXPECT_EQ(after["sets"].size(), setsBefore);
    EXPECT_THAT(ulvaren("list").out, Not(HasSubstr("Gone")));
}

TEST_F(WebDialogTest, AboutBoxTextIsWhitelistedAndCtrlCEndsAnOpenWizard) {
    startWindow();
    signIn();
    ASSERT_EQ(post("about", json::object()).status, 200);
    const json about = dialog();
    ASSERT_TRUE(about.is_object());
    EXPECT_FALSE(about["sheet"]);
    const json title = control(about, AboutTitle);
    EXPECT_EQ(title["label"], "Ulvaren");
    EXPECT_EQ(title["style"]["colour"], "#0000c8");
    std::string kinds, text;
    const json body = control(about, AboutText);
    for (const json& segment : body["segments"]) {
        kinds += segment["kind"].get<std::string>() + " ";
        if (segment["kind"] == "link") {
            EXPECT_THAT(segment["href"].get<std::string>(), testing::StartsWith("https://"));
        }
        if (segment.contains("text"))
            text += segment["text"].get<std::string>();
    }
    EXPECT_EQ(kinds, "text break text paragraph text link text ");
    EXPECT_THAT(text, HasSubstr("1.1.6"));
    EXPECT_THAT(text, Not(HasSubstr("<")));
    // Its background picture is served while it is open.
    ASSERT_TRUE(about["background"]["picture"].is_string());
    const auto picture = [&] {
        return client().Get(about["background"]["picture"].get<std::string>(), withCookie());
    };
    auto shown = picture();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->status, 200);
    EXPECT_EQ(shown->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(shown->body.substr(0, 4), "\x89PNG");
    act("click", {{"id", AboutOk}});
    EXPECT_TRUE(dialog().is_null());
    EXPECT_EQ(picture()->status, 404);

    ASSERT_EQ(post("command", {{"name", "add"}}).status, 200);
    act("set", {{"id", SetName}, {"text", "Interrupted"}});
    ASSERT_TRUE(dialog().is_object());
    EXPECT_EQ(exitStatus(SIGINT), 130);
    EXPECT_THAT(ulvaren("list").out, Not(HasSubstr("Interrupted")));
}

}  // namespace
