// The HTTP side of `ulvaren ui`: a server on the loopback address that
// serves the page's files and hands the API's requests to the window.
//
// Who may talk to it: whoever holds the one-time token printed at start-up.
// GET /?token=T exchanges it, once, for a random session cookie (HttpOnly,
// SameSite=Strict) and a redirect to "/"; from then on every request needs
// that cookie. Every request must also name the server by its own address
// in Host (127.0.0.1:PORT or localhost:PORT), so a page of another site
// whose name was rebound to this machine gets nothing; every POST must carry
// the Origin of that same address. A refused request gets 401 (no valid
// cookie) or 403 (wrong token, Host or Origin) and reaches nothing else.
//
// Every answer carries a Content-Security-Policy that allows only the
// server's own files (no inline script, no framing) and nosniff.
//
// Threads: the server answers on its own threads; the API handler is called
// on them and must pass the work on to the user-interface thread itself.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

// An answer of the API: a status and a body, JSON unless `type` names
// another media type.
struct WebReply {
    int status = 200;
    std::string body;
    std::string type = std::string();
};

class WebServer {
public:
    // Called for GET /api/NAME and POST /api/NAME, with NAME, the method and
    // the request's body.
    using ApiHandler = std::function<WebReply(const std::string& method, const std::string& name,
                                              const std::string& body)>;

    explicit WebServer(ApiHandler api);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds 127.0.0.1:`port` (0: a free port chosen by the system). False,
    // with `error` saying why, when it cannot.
    bool bind(int port, std::string& error);
    int port() const { return port_; }
    // "http://127.0.0.1:PORT/"
    std::string address() const;
    // The address with the one-time token, for the person to open.
    std::string tokenAddress() const;

    // Answers requests until stop(); call on a thread of its own after bind().
    void serve();
    // Waits until serve() answers requests (or has ended); any thread.
    void waitUntilServing();
    // Makes serve() return; waits for requests being answered. Any thread
    // but the server's.
    void stop();

private:
    struct Gate;
    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<Gate> gate_;
    ApiHandler api_;
    int port_ = 0;
    std::atomic<bool> ended_{false};
};
