// `ulvaren ui` as a browser meets it: who gets in, what the API says about
// the commands, and what the page's own files hold.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "support/UiWindow.h"

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class WebTest : public UiWindowTest {
protected:
    // The states that each command's update operation gives, in the API's
    // order: the names of the enabled commands, "|", those of the checked
    // ones; of the commands in `only` when it is given.
    static std::string commandsOf(const json& state, const std::set<std::string>& only = {}) {
        std::string enabled, checked;
        for (const json& command : state["commands"]) {
            const std::string name = command["name"];
            if (!only.empty() && !only.contains(name))
                continue;
            if (command["enabled"] == true)
                enabled += name + " ";
            if (command["checked"] == true)
                checked += " " + name;
        }
        return enabled + "|" + checked;
    }

    static std::string statusOf(const json& state, int index) {
        return state["sets"][index]["status"].get<std::string>();
    }
};

TEST_F(WebTest, OnlyTheTokensHolderFromThisAddressGetsIn) {
    writeFile(dir / "src/a.txt", "alpha");
    ASSERT_EQ(importInto(define("Docs", dir / "src"), "out"), 0);
    startWindow();

    // A refused request never comes with a cookie.
    struct Refused {
        std::string path;
        httplib::Headers headers;
        int status;
    };
    const auto expectRefused = [&](const std::vector<Refused>& requests) {
        for (const Refused& request : requests) {
            auto reply = client().Get(request.path, request.headers);
            ASSERT_TRUE(reply) << request.path;
            EXPECT_EQ(reply->status, request.status) << request.path;
            EXPECT_FALSE(reply->has_header("Set-Cookie")) << request.path;
        }
    };
    // The right token from a page that names the server otherwise (a name
    // rebound to this machine) is refused and stays good.
    const std::string foreignHost = "evil.example:" + std::to_string(port_);
    expectRefused({{"/api/state", {}, 401},
                   {"/", {}, 401},
                   {"/?token=" + std::string(token_.size(), '0'), {}, 403},
                   {"/?token=" + token_, {{"Host", foreignHost}}, 403}});

    auto exchanged = client().Get("/?token=" + token_);
    ASSERT_TRUE(exchanged);
    EXPECT_EQ(exchanged->status, 303);
    EXPECT_EQ(exchanged->get_header_value("Location"), "/");
    const std::string cookie = exchanged->get_header_value("Set-Cookie");
    EXPECT_THAT(cookie, HasSubstr("HttpOnly"));
    EXPECT_THAT(cookie, HasSubstr("SameSite=Strict"));
    cookie_ = cookie.substr(0, cookie.find(';'));

    // The token is good once, a cookie the server did not give gets nothing,
    // and with its cookie a Host other than the server's own is refused.
    expectRefused(
        {{"/?token=" + token_, {}, 403},
         {"/api/state", {{"Cookie", "ulv_session=" + std::string(64, 'a')}}, 401},
         {"/api/state", withCookie({{"Host", foreignHost}}), 403},
         {"/api/state", withCookie({{"Host", "127.0.0.1:" + std::to_string(port_ + 1)}}), 403}});

    // Changes need the server's own Origin; refused ones change nothing.
    auto foreignOrigin =
        client().Post("/api/command", withCookie({{"Origin", "http://evil.example"}}),
                      json{{"name", "start-all"}}.dump(), "application/json");
    auto noOrigin =
        client().Post("/api/select", withCookie(), json{{"index", 0}}.dump(), "application/json");
    ASSERT_TRUE(foreignOrigin && noOrigin);
    EXPECT_EQ(foreignOrigin->status, 403);
    EXPECT_EQ(noOrigin->status, 403);
    const json after = state();
    EXPECT_EQ(after["selected"], -1);
    EXPECT_EQ(statusOf(after, 0), "Ready");
    EXPECT_EQ(after["sets"][0]["lastRun"], "");

    const ApiReply selected = post("select", {{"index", 0}});
    EXPECT_EQ(selected.status, 200);
    EXPECT_EQ(selected.body["selected"], 0);
}

TEST_F(WebTest, ListensOnTheLoopbackAddressOnly) {
    startWindow();
    // Every listening socket of the port, from the kernel's own table.
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, "%04X", port_);
    int loopback = 0, other = 0;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream file(table);
        std::string line;
        std::getline(file, line);
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, listenState;
            fields >> slot >> local >> remote >> listenState;
            if (listenState != "0A" || local.substr(local.find(':') + 1) != portHex)
                continue;
            (local == std::string("0100007F:") + portHex ? loopback : other)++;
        }
    }
    EXPECT_EQ(loopback, 1);
    EXPECT_EQ(other, 0);
}

TEST_F(WebTest, ThePageIsItsOwnFilesWithAStrictPolicyAndNamesAsText) {
    writeFile(dir / "src/a.txt", "alpha");
    writeFile(dir / "odd.xml",
              "<backupset><Name>&lt;img src=x onerror=alert(1)&gt;</Name><SourceFolders><F>" +
                  dir / "src" + "</F></SourceFolders></backupset>");
    ASSERT_EQ(importInto(quoted("odd.xml"), "out"), 0);
    startWindow();
    signIn();

    EXPECT_EQ(state()["sets"][0]["name"], "<img src=x onerror=alert(1)>");

    auto html = client().Get("/", withCookie());
    ASSERT_TRUE(html);
    ASSERT_EQ(html->status, 200);
    const std::string policy = html->get_header_value("Content-Security-Policy");
    EXPECT_THAT(policy, HasSubstr("default-src 'self'"));
    EXPECT_THAT(policy, HasSubstr("frame-ancestors 'none'"));
    EXPECT_THAT(policy, Not(HasSubstr("unsafe-inline")));
    EXPECT_EQ(html->get_header_value("X-Content-Type-Options"), "nosniff");
    // No inline script and nothing fetched from elsewhere.
    for (const char* outside : {"<script>", "http:", "https:"})
        EXPECT_THAT(html->body, Not(HasSubstr(outside)));

    auto script = client().Get("/app.js", withCookie());
    ASSERT_TRUE(script);
    ASSERT_EQ(script->status, 200);
    EXPECT_THAT(script->get_header_value("Content-Type"), HasSubstr("javascript"));
    EXPECT_THAT(script->body, HasSubstr("textContent"));
    for (const char* markup : {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write"})
        EXPECT_THAT(script->body, Not(HasSubstr(markup)));
}

TEST_F(WebTest, CommandStatesAreTheUpdateOperationsWord) {
    writeFile(dir / "src/a.txt", "alpha");
    writeFile(dir / "plain/b.txt", "beta");
    ScriptGate gate(dir / "gate");
    ASSERT_EQ(
        importInto(defineHeld("Held", dir / "src", gate) + " " + define("Plain", dir / "plain"),
                   "out"),
        0);
    startWindow();
    signIn();

    // Idle, nothing selected: only what needs no set.
    EXPECT_EQ(commandsOf(state()), "start-all add | pause-all");

    ASSERT_EQ(post("select", {{"index", 0}}).status, 200);
    const ApiReply started = post("command", {{"name", "start"}});
    ASSERT_EQ(started.status, 200) << started.body;
    ASSERT_TRUE(gate.waitUntilReached());
    ASSERT_TRUE(eventually([&] { return statusOf(state(), 0) != "Not Started"; }));

    // Held in its pre-backup script: in progress, but not running, so not
    // active: stop and pause cannot reach it, pause-all is checked while
    // disabled, and the run's log, open already, can be viewed.
    EXPECT_EQ(commandsOf(state()), "stop-all start view-log | pause-all");
    const ApiReply refused = post("command", {{"name", "remove"}});
    EXPECT_EQ(refused.status, 409);
    EXPECT_EQ(refused.body["sets"].size(), 2u);

    // The second set queued behind it is active, and can be paused.
    const std::set<std::string> running{"start", "stop", "pause", "pause-all"};
    ASSERT_EQ(post("select", {{"index", 1}}).status, 200);
    ASSERT_EQ(post("command", {{"name", "start"}}).status, 200);
    const json queued = state();
    EXPECT_EQ(statusOf(queued, 1), "Not Started");
    EXPECT_EQ(commandsOf(queued, running), "start pause pause-all |");
    ASSERT_EQ(post("command", {{"name", "pause"}}).status, 200);
    EXPECT_EQ(commandsOf(state(), running), "start pause pause-all | pause pause-all");
    ASSERT_EQ(post("command", {{"name", "pause"}}).status, 200);

    // Quitting waits for the runs.
    EXPECT_EQ(post("quit", json::object()).status, 409);

    gate.open();
    // A set shows Complete before its job has left the pool and its record
    // is written: the batch is over once the window may close and the
    // second set's last run is recorded.
    ASSERT_TRUE(eventually([&] {
        const json now = state();
        return statusOf(now, 0) == "Complete" && statusOf(now, 1) == "Complete" &&
               now["canClose"] == true &&
               now["sets"][1]["lastRun"].get<std::string>().find("Complete") != std::string::npos;
    }));
    const json done = state();
    EXPECT_EQ(done["sets"][1]["copied"], 1);
    EXPECT_EQ(commandsOf(done, {"view-log", "remove", "start-all"}), "start-all remove view-log |");

    EXPECT_EQ(post("quit", json::object()).status, 200);
    EXPECT_EQ(exitStatus(), 0);
}

TEST_F(WebTest, ASecondWindowOnTheRegistryPointsToTheFirst) {
    startWindow();
    const Result second = ulvaren("ui --no-browser");
    EXPECT_EQ(second.status, 0);
    EXPECT_THAT(second.out, HasSubstr("http://" + host() + "/"));
    EXPECT_THAT(second.out, Not(HasSubstr(token_)));
    EXPECT_THAT(second.out, Not(HasSubstr("token=")));
}

TEST_F(WebTest, TerminateStopsTheHeldRunAndEnds) {
    writeFile(dir / "src/a.txt", "alpha");
    ScriptGate gate(dir / "gate");
    ASSERT_EQ(importInto(defineHeld("Held", dir / "src", gate), "out"), 0);
    startWindow();
    signIn();
    ASSERT_EQ(post("command", {{"name", "start-all"}}).status, 200);
    ASSERT_TRUE(gate.waitUntilReached());
    EXPECT_EQ(exitStatus(SIGTERM), 130);
    EXPECT_THAT(ulvaren("list").out, HasSubstr("Cancelled"));
}

}  // namespace
