#include "host/web/WebServer.h"

#include <sys/random.h>

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "host/web/WebAssets.h"

namespace {

constexpr const char* CookieName = "ulv_session";
constexpr size_t SecretBytes = 32;

constexpr const char* ContentSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

// A secret from the kernel's random source, as hexadecimal text.
std::string randomSecret() {
    unsigned char bytes[SecretBytes];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("no random numbers: ") + std::strerror(errno));
        filled += static_cast<size_t>(n);
    }
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

// Compares in a time that does not depend on where the texts differ.
bool sameSecret(const std::string& given, const std::string& secret) {
    if (secret.empty() || given.size() != secret.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < secret.size(); ++i) difference |= given[i] ^ secret[i];
    return difference == 0;
}

// The value of cookie `name` in a Cookie header; empty when it is absent.
std::string cookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        const size_t end = std::min(header.find(';', at), header.size());
        std::string pair = header.substr(at, end - at);
        const size_t first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
            pair[name.size()] == '=') {
            return pair.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return std::string();
}

void refuse(httplib::Response& res, int status, const char* why) {
    res.status = status;
    res.set_content(std::string(why) + "\n", "text/plain; charset=utf-8");
}

}  // namespace

// The token and the session, and the checks every request passes.
struct WebServer::Gate {
    std::mutex mutex;
    std::string token = randomSecret();  // empty once exchanged
    std::string session;                 // empty until the token is exchanged
    int port = 0;

    bool hostAllowed(const std::string& host) const {
        const std::string suffix = ":" + std::to_string(port);
        return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
    }

    // Turns a valid token into the session cookie, once.
    bool exchange(const std::string& given, std::string& cookie) {
        std::lock_guard<std::mutex> guard(mutex);
        if (!sameSecret(given, token))
            return false;
        token.clear();
        session = randomSecret();
        cookie = session;
        return true;
    }

    bool hasSession(const httplib::Request& req) {
        const std::string given = cookieValue(req.get_header_value("Cookie"), CookieName);
        std::lock_guard<std::mutex> guard(mutex);
        return sameSecret(given, session);
    }

    // Answers the request itself when it is refused or is the token's
    // exchange; lets it through otherwise.
    httplib::Server::HandlerResponse check(const httplib::Request& req, httplib::Response& res) {
        using Outcome = httplib::Server::HandlerResponse;
        res.set_header("Content-Security-Policy", ContentSecurityPolicy);
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("Cache-Control", "no-store");
        const std::string host = req.get_header_value("Host");
        if (!hostAllowed(host)) {
            refuse(res, 403, "wrong host");
            return Outcome::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD" &&
            req.get_header_value("Origin") != "http://" + host) {
            refuse(res, 403, "wrong origin");
            return Outcome::Handled;
        }
        if (req.path == "/" && req.has_param("token")) {
            std::string cookie;
            if (!exchange(req.get_param_value("token"), cookie)) {
                refuse(res, 403, "this token is not valid (each is good for one use)");
                return Outcome::Handled;
            }
            res.set_header("Set-Cookie", std::string(CookieName) + "=" + cookie +
                                             "; Path=/; HttpOnly; SameSite=Strict");
            res.set_redirect("/", 303);
            return Outcome::Handled;
        }
        if (!hasSession(req)) {
            refuse(res, 401, "open the address with the token that ulvaren ui printed");
            return Outcome::Handled;
        }
        return Outcome::Unhandled;
    }
};

WebServer::WebServer(ApiHandler api)
    : server_(std::make_unique<httplib::Server>()),
      gate_(std::make_unique<Gate>()),
      api_(std::move(api)) {
    // A browser keeps its connection open between requests; a short wait
    // for the next one lets stop() end the server soon after.
    server_->set_keep_alive_timeout(2);
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return gate_->check(req, res);
    });
    auto serveAsset = [](const httplib::Request& req, httplib::Response& res) {
        const WebAsset* asset = findWebAsset(req.path == "/" ? "/index.html" : req.path);
        if (asset == nullptr) {
            refuse(res, 404, "not found");
            return;
        }
        res.set_content(std::string(asset->text), std::string(webAssetType(asset->path)).c_str());
    };
    server_->Get("/", serveAsset);
    server_->Get(R"(/[a-z]+\.(html|css|js))", serveAsset);
    auto callApi = [this](const httplib::Request& req, httplib::Response& res) {
        const WebReply reply = api_(req.method, req.matches[1], req.body);
        res.status = reply.status;
        res.set_content(reply.body,
                        reply.type.empty() ? "application/json; charset=utf-8" : reply.type);
    };
    server_->Get(R"(/api/([a-z-]+))", callApi);
    server_->Post(R"(/api/([a-z-]+))", callApi);
}

WebServer::~WebServer() = default;

bool WebServer::bind(int port, std::string& error) {
    if (port == 0) {
        port_ = server_->bind_to_any_port("127.0.0.1");
    } else if (server_->bind_to_port("127.0.0.1", port)) {
        port_ = port;
    }
    if (port_ <= 0) {
        error = std::strerror(errno);
        port_ = 0;
        return false;
    }
    gate_->port = port_;
    return true;
}

std::string WebServer::address() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::string WebServer::tokenAddress() const {
    std::lock_guard<std::mutex> guard(gate_->mutex);
    return address() + "?token=" + gate_->token;
}

void WebServer::serve() {
    server_->listen_after_bind();
    ended_ = true;
}

void WebServer::waitUntilServing() {
    // The library says when it runs but offers nothing to wait on; the wait
    // is short, the time the server thread takes to start.
    while (!server_->is_running() && !ended_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void WebServer::stop() {
    server_->stop();
}
