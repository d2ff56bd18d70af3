// `ulvaren ui` as a browser meets it: who gets in, what the API says about
// the commands, and what the page's own files hold.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include <gmock/gmock.h>

#include "support/Eventually.h"
#include "support/UlvarenProgram.h"

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// What each command's update operation gives in one situation:
// {enabled, checked} by the page's name of the command.
using CommandStates = std::map<std::string, std::pair<bool, bool>>;

class WebTest : public UlvarenTest {
protected:
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        if (output_)
            fclose(output_);
    }

    // Starts `ulvaren ui --no-browser` on the test's registry and reads the
    // address with the token that it prints first.
    void startWindow() {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const std::string command = "exec env -u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") +
                                    " " + ULVAREN_BINARY + " ui --no-browser --registry " +
                                    quoted("reg.db") + " 2>" + quoted("ui-err");
        child_ = fork();
        if (child_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        output_ = fdopen(out[0], "r");
        char line[512] = "";
        ASSERT_NE(fgets(line, sizeof line, output_), nullptr) << readFile(dir / "ui-err");
        std::smatch match;
        const std::string text = line;
        ASSERT_TRUE(std::regex_search(
            text, match, std::regex(R"(http://127\.0\.0\.1:([0-9]+)/\?token=([0-9a-f]+))")))
            << text;
        port_ = std::stoi(match[1]);
        token_ = match[2];
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_connection_timeout(10);
        c.set_read_timeout(30);
        return c;
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    // Exchanges the token for the session cookie.
    void signIn() {
        auto reply = client().Get("/?token=" + token_);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->status, 303);
        const std::string cookie = reply->get_header_value("Set-Cookie");
        cookie_ = cookie.substr(0, cookie.find(';'));
    }

    httplib::Headers withCookie(httplib::Headers headers = {}) const {
        headers.emplace("Cookie", cookie_);
        return headers;
    }

    json state() {
        auto reply = client().Get("/api/state", withCookie());
        EXPECT_TRUE(reply && reply->status == 200);
        return reply ? json::parse(reply->body, nullptr, false) : json();
    }

    httplib::Result post(const std::string& path, const json& body) {
        return client().Post(path, withCookie({{"Origin", "http://" + host()}}), body.dump(),
                             "application/json");
    }

    static CommandStates commandsOf(const json& state) {
        CommandStates states;
        for (const json& command : state["commands"])
            states[command["name"]] = {command["enabled"], command["checked"]};
        return states;
    }

    static std::string statusOf(const json& state, int index) {
        return state["sets"][index]["status"].get<std::string>();
    }

    pid_t child_ = -1;
    FILE* output_ = nullptr;
    int port_ = 0;
    std::string token_;
    std::string cookie_;
};

TEST_F(WebTest, OnlyTheTokensHolderFromThisAddressGetsIn) {
    writeFile(dir / "src/a.txt", "alpha");
    ASSERT_EQ(
        ulvaren("import " + define("Docs", dir / "src") + " --target " + quoted("out")).status, 0);
    startWindow();

    auto noCookie = client().Get("/api/state");
    ASSERT_TRUE(noCookie);
    EXPECT_EQ(noCookie->status, 401);
    auto page = client().Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 401);

    auto wrongToken = client().Get("/?token=" + std::string(token_.size(), '0'));
    ASSERT_TRUE(wrongToken);
    EXPECT_EQ(wrongToken->status, 403);
    EXPECT_FALSE(wrongToken->has_header("Set-Cookie"));

    // The right token from a page that names the server otherwise (a name
    // rebound to this machine) is refused and stays good.
    auto foreignHost =
        client().Get("/?token=" + token_, {{"Host", "evil.example:" + std::to_string(port_)}});
    ASSERT_TRUE(foreignHost);
    EXPECT_EQ(foreignHost->status, 403);
    EXPECT_FALSE(foreignHost->has_header("Set-Cookie"));

    auto exchanged = client().Get("/?token=" + token_);
    ASSERT_TRUE(exchanged);
    EXPECT_EQ(exchanged->status, 303);
    EXPECT_EQ(exchanged->get_header_value("Location"), "/");
    const std::string cookie = exchanged->get_header_value("Set-Cookie");
    EXPECT_THAT(cookie, HasSubstr("HttpOnly"));
    EXPECT_THAT(cookie, HasSubstr("SameSite=Strict"));
    cookie_ = cookie.substr(0, cookie.find(';'));

    auto usedToken = client().Get("/?token=" + token_);
    ASSERT_TRUE(usedToken);
    EXPECT_EQ(usedToken->status, 403);
    EXPECT_FALSE(usedToken->has_header("Set-Cookie"));

    auto forgedCookie =
        client().Get("/api/state", {{"Cookie", "ulv_session=" + std::string(64, 'a')}});
    ASSERT_TRUE(forgedCookie);
    EXPECT_EQ(forgedCookie->status, 401);

    // With the cookie, a Host other than the server's own is still refused.
    auto rebound =
        client().Get("/api/state", withCookie({{"Host", "evil.example:" + std::to_string(port_)}}));
    ASSERT_TRUE(rebound);
    EXPECT_EQ(rebound->status, 403);
    auto otherPort = client().Get("/api/state",
                                  withCookie({{"Host", "127.0.0.1:" + std::to_string(port_ + 1)}}));
    ASSERT_TRUE(otherPort);
    EXPECT_EQ(otherPort->status, 403);

    // Changes need the server's own Origin; refused ones change nothing.
    const json body{{"name", "start-all"}};
    auto foreignOrigin =
        client().Post("/api/command", withCookie({{"Origin", "http://evil.example"}}), body.dump(),
                      "application/json");
    ASSERT_TRUE(foreignOrigin);
    EXPECT_EQ(foreignOrigin->status, 403);
    auto noOrigin =
        client().Post("/api/select", withCookie(), json{{"index", 0}}.dump(), "application/json");
    ASSERT_TRUE(noOrigin);
    EXPECT_EQ(noOrigin->status, 403);
    const json after = state();
    EXPECT_EQ(after["selected"], -1);
    EXPECT_EQ(statusOf(after, 0), "Ready");
    EXPECT_EQ(after["sets"][0]["lastRun"], "");

    auto selected = post("/api/select", json{{"index", 0}});
    ASSERT_TRUE(selected);
    EXPECT_EQ(selected->status, 200);
    EXPECT_EQ(json::parse(selected->body)["selected"], 0);
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
    const std::string name = "<img src=x onerror=alert(1)>";
    writeFile(dir / "src/a.txt", "alpha");
    writeFile(dir / "odd.xml",
              "<backupset><Name>&lt;img src=x onerror=alert(1)&gt;</Name><SourceFolders><F>" +
                  dir / "src" + "</F></SourceFolders></backupset>");
    ASSERT_EQ(ulvaren("import " + quoted("odd.xml") + " --target " + quoted("out")).status, 0);
    startWindow();
    signIn();

    EXPECT_EQ(state()["sets"][0]["name"], name);

    auto html = client().Get("/", withCookie());
    ASSERT_TRUE(html);
    ASSERT_EQ(html->status, 200);
    const std::string policy = html->get_header_value("Content-Security-Policy");
    EXPECT_THAT(policy, HasSubstr("default-src 'self'"));
    EXPECT_THAT(policy, HasSubstr("frame-ancestors 'none'"));
    EXPECT_THAT(policy, Not(HasSubstr("unsafe-inline")));
    EXPECT_EQ(html->get_header_value("X-Content-Type-Options"), "nosniff");
    // No inline script and nothing fetched from elsewhere.
    EXPECT_THAT(html->body, Not(HasSubstr("<script>")));
    EXPECT_THAT(html->body, Not(HasSubstr("http:")));
    EXPECT_THAT(html->body, Not(HasSubstr("https:")));

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
    ASSERT_EQ(ulvaren("import " + defineHeld("Held", dir / "src", gate) + " " +
                      define("Plain", dir / "plain") + " --target " + quoted("out"))
                  .status,
              0);
    startWindow();
    signIn();

    // Idle, nothing selected: only what needs no set.
    EXPECT_EQ(commandsOf(state()), (CommandStates{{"start-all", {true, false}},
                                                  {"stop-all", {false, false}},
                                                  {"start", {false, false}},
                                                  {"stop", {false, false}},
                                                  {"pause", {false, false}},
                                                  {"pause-all", {false, true}},
                                                  {"add", {true, false}},
                                                  {"edit", {false, false}},
                                                  {"remove", {false, false}},
                                                  {"view-log", {false, false}}}));

    ASSERT_EQ(post("/api/select", json{{"index", 0}})->status, 200);
    auto started = post("/api/command", json{{"name", "start"}});
    ASSERT_TRUE(started);
    ASSERT_EQ(started->status, 200) << started->body;
    ASSERT_TRUE(gate.waitUntilReached());
    ASSERT_TRUE(eventually([&] { return statusOf(state(), 0) != "Not Started"; }));

    // Held in its pre-backup script: in progress, but not running, so not
    // active: stop and pause cannot reach it, pause-all is checked while
    // disabled, and the run's log, open already, can be viewed.
    EXPECT_EQ(commandsOf(state()), (CommandStates{{"start-all", {false, false}},
                                                  {"stop-all", {true, false}},
                                                  {"start", {true, false}},
                                                  {"stop", {false, false}},
                                                  {"pause", {false, false}},
                                                  {"pause-all", {false, true}},
                                                  {"add", {false, false}},
                                                  {"edit", {false, false}},
                                                  {"remove", {false, false}},
                                                  {"view-log", {true, false}}}));
    auto refused = post("/api/command", json{{"name", "remove"}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 409);
    EXPECT_EQ(json::parse(refused->body)["sets"].size(), 2u);

    // The second set queued behind it is active, and can be paused.
    ASSERT_EQ(post("/api/select", json{{"index", 1}})->status, 200);
    ASSERT_EQ(post("/api/command", json{{"name", "start"}})->status, 200);
    json queued = state();
    EXPECT_EQ(statusOf(queued, 1), "Not Started");
    CommandStates states = commandsOf(queued);
    EXPECT_EQ(states["pause"], std::make_pair(true, false));
    EXPECT_EQ(states["pause-all"], std::make_pair(true, false));
    EXPECT_EQ(states["stop"], std::make_pair(false, false));
    EXPECT_EQ(states["start"], std::make_pair(true, false));

    ASSERT_EQ(post("/api/command", json{{"name", "pause"}})->status, 200);
    states = commandsOf(state());
    EXPECT_EQ(states["pause"], std::make_pair(true, true));
    EXPECT_EQ(states["pause-all"], std::make_pair(true, true));
    ASSERT_EQ(post("/api/command", json{{"name", "pause"}})->status, 200);

    // Quitting waits for the runs.
    auto early = post("/api/quit", json::object());
    ASSERT_TRUE(early);
    EXPECT_EQ(early->status, 409);

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
    EXPECT_THAT(done["sets"][1]["lastRun"].get<std::string>(), HasSubstr("Complete"));
    EXPECT_EQ(done["sets"][1]["copied"], 1);
    states = commandsOf(done);
    EXPECT_EQ(states["view-log"], std::make_pair(true, false));
    EXPECT_EQ(states["remove"], std::make_pair(true, false));
    EXPECT_EQ(states["start-all"], std::make_pair(true, false));

    auto quit = post("/api/quit", json::object());
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->status, 200);
    int status = 0;
    ASSERT_TRUE(eventually([&] { return waitpid(child_, &status, WNOHANG) == child_; }));
    child_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(WebTest, ASecondWindowOnTheRegistryPointsToTheFirst) {
    startWindow();
    const Result second = ulvaren("ui --no-browser");
    EXPECT_EQ(second.status, 0);
    EXPECT_THAT(second.out, HasSubstr("http://127.0.0.1:" + std::to_string(port_) + "/"));
    EXPECT_THAT(second.out, Not(HasSubstr(token_)));
    EXPECT_THAT(second.out, Not(HasSubstr("token=")));
}

TEST_F(WebTest, TerminateStopsTheHeldRunAndEnds) {
    writeFile(dir / "src/a.txt", "alpha");
    ScriptGate gate(dir / "gate");
    ASSERT_EQ(
        ulvaren("import " + defineHeld("Held", dir / "src", gate) + " --target " + quoted("out"))
            .status,
        0);
    startWindow();
    signIn();
    ASSERT_EQ(post("/api/command", json{{"name", "start-all"}})->status, 200);
    ASSERT_TRUE(gate.waitUntilReached());
    kill(child_, SIGTERM);
    int status = 0;
    ASSERT_TRUE(eventually([&] { return waitpid(child_, &status, WNOHANG) == child_; }));
    child_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130);
    const Result listed = ulvaren("list");
    EXPECT_THAT(listed.out, HasSubstr("Cancelled"));
}

}  // namespace
