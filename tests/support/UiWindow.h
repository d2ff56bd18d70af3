// `ulvaren ui` started on the test's registry, and an HTTP client that talks
// to it as the page does: from the server's own address, with the session
// cookie and, for changes, the server's own Origin.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "support/Eventually.h"
#include "support/UlvarenProgram.h"

// What the API answered: its status (-1 when no reply came) and its body
// (discarded when it is not JSON).
struct ApiReply {
    int status = -1;
    nlohmann::json body;
};

class UiWindowTest : public UlvarenTest {
protected:
    void TearDown() override {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        if (output_)
            std::fclose(output_);
    }

    // Starts `ulvaren <arguments> --registry reg.db` with `environment`
    // ("NAME=value ...", expanded by the shell) added to ulvaren()'s, and
    // reads the address with the token that it prints first. Its standard
    // error goes to ui-err in the test's folder.
    void startWindow(const std::string& environment = "",
                     const std::string& arguments = "ui --no-browser") {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const std::string command = "exec env -u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") +
                                    " " + environment + " " + ULVAREN_BINARY + " " + arguments +
                                    " --registry " + quoted("reg.db") + " 2>" + quoted("ui-err");
        child_ = ::fork();
        if (child_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        output_ = ::fdopen(out[0], "r");
        char line[512] = "";
        ASSERT_NE(std::fgets(line, sizeof line, output_), nullptr) << readFile(dir / "ui-err");
        std::smatch match;
        const std::string text = line;
        ASSERT_TRUE(std::regex_search(
            text, match, std::regex(R"(http://127\.0\.0\.1:([0-9]+)/\?token=([0-9a-f]+)\n)")))
            << text;
        port_ = std::stoi(match[1]);
        token_ = match[2];
    }

    // Exchanges the token for the session cookie.
    void signIn() {
        auto reply = client().Get("/?token=" + token_);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->status, 303);
        const std::string cookie = reply->get_header_value("Set-Cookie");
        cookie_ = cookie.substr(0, cookie.find(';'));
    }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_connection_timeout(10);
        c.set_read_timeout(30);
        return c;
    }
    // The server's own Host, as its address names it.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    httplib::Headers withCookie(httplib::Headers headers = {}) const {
        headers.emplace("Cookie", cookie_);
        return headers;
    }

    // GET /api/state, expected to succeed.
    nlohmann::json state() {
        auto reply = client().Get("/api/state", withCookie());
        EXPECT_TRUE(reply && reply->status == 200);
        return reply ? nlohmann::json::parse(reply->body, nullptr, false) : nlohmann::json();
    }

    // POST /api/<name> with `body`, as the page sends it.
    ApiReply post(const std::string& name, const nlohmann::json& body) {
        auto reply = client().Post("/api/" + name, withCookie({{"Origin", "http://" + host()}}),
                                   body.dump(), "application/json");
        if (!reply)
            return {};
        return {reply->status, nlohmann::json::parse(reply->body, nullptr, false)};
    }

    // Sends `signal` (none for 0) and waits for the window to end; its exit
    // status, or -1 when it did not end or did not exit by itself.
    int exitStatus(int signal = 0) {
        if (signal != 0 && ::kill(child_, signal) != 0)
            return -1;
        int status = 0;
        if (!eventually([&] { return ::waitpid(child_, &status, WNOHANG) == child_; }))
            return -1;
        child_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t child_ = -1;
    FILE* output_ = nullptr;
    int port_ = 0;
    std::string token_;
    std::string cookie_;
};
