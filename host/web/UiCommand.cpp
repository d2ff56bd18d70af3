// `ulvaren ui`: the desktop window as a page in the person's own browser.
//
// The main thread is the user-interface thread: it owns the main window,
// drains its queue (job ends and the server's calls) and is the only one to
// touch the application object. The server answers on threads of its own
// and hands each API request over (UiCalls.h). A dialog's modal loop goes on
// taking the same steps as the main loop (WebDialogDriver.h).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "base/ULVbase.h"
#include "foundation/TBFileLock.h"
#include "foundation/TBRegistry.h"
#include "foundation/TBRegistryWatch.h"
#include "host/Commands.h"
#include "host/Signals.h"
#include "host/web/UiCalls.h"
#include "host/web/WebDialogDriver.h"
#include "host/web/WebServer.h"
#include "host/web/WebWindow.h"
#include "mfc/DialogDriver.h"
#include "ui/BackupSetWizard.h"

using terbin::TBString;

namespace {

// How long the window waits for a message before it looks at the signal flag.
constexpr int64_t SignalCheckMs = 100;
// How often the window asks whether another process changed the registry.
constexpr std::chrono::seconds RegistryLookInterval{1};

// How long an open dialog waits for word from the page, in milliseconds:
// $ULVAREN_UI_IDLE_MS when it holds a positive number, else the driver's own.
std::chrono::milliseconds dialogIdleTimeout() {
    const char* given = std::getenv("ULVAREN_UI_IDLE_MS");
    if (given == nullptr || *given == '\0')
        return WebDialogDriver::DefaultIdleTimeout;
    char* end = nullptr;
    const long long ms = std::strtoll(given, &end, 10);
    return *end == '\0' && ms > 0 ? std::chrono::milliseconds(ms)
                                  : WebDialogDriver::DefaultIdleTimeout;
}

// The dialog driver and the editor of sets for as long as the window runs.
class DialogsInstalled {
public:
    explicit DialogsInstalled(WebDialogDriver& driver) {
        AfxSetDialogDriver(&driver);
        theBaseApp.backupSetEditor = &editor_;
    }
    ~DialogsInstalled() {
        theBaseApp.backupSetEditor = nullptr;
        AfxSetDialogDriver(nullptr);
    }
    DialogsInstalled(const DialogsInstalled&) = delete;
    DialogsInstalled& operator=(const DialogsInstalled&) = delete;

private:
    WizardEditor editor_;
};

// Takes the window's log viewer away again when the window ends.
struct LogViewerInstalled {
    LogViewerInstalled() = default;
    ~LogViewerInstalled() { theBaseApp.logViewer = nullptr; }
    LogViewerInstalled(const LogViewerInstalled&) = delete;
    LogViewerInstalled& operator=(const LogViewerInstalled&) = delete;
};

// The lock that allows one window per registry: a file beside the registry
// holding the locker's process id and then its address.
std::string lockPath() {
    return terbin::tb_registry_storePath(terbin::TBHiveCurrentUser).narrow() + ".ui-lock";
}

// The address the window that holds the lock wrote; empty while it starts.
std::string runningAddress(const std::string& path) {
    std::ifstream file(path);
    std::string pid, address;
    std::getline(file, pid);
    std::getline(file, address);
    return address;
}

void recordAddress(const std::string& path, const std::string& address) {
    // A second descriptor of the locked file: the lock is a flock() on the
    // lock's own open file description, which this one leaves alone.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    const std::string line = address + "\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "ulvaren ui: could not record the address in %s\n", path.c_str());
    ::close(fd);
}

// A page, readable by this user alone, that forwards the browser to the
// token's address: xdg-open is given the page's path, so the token never
// stands on a command line that other users can read.
struct ForwardingPage {
    std::string path;  // empty when none could be made
    // The folder made for it when there is no runtime folder; removed with it.
    std::string ownFolder;

    void remove() {
        if (!path.empty())
            ::unlink(path.c_str());
        if (!ownFolder.empty())
            ::rmdir(ownFolder.c_str());
        path.clear();
        ownFolder.clear();
    }
};

ForwardingPage writeForwardingPage(const std::string& address) {
    ForwardingPage made;
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        folder = runtime;
    } else {
        char pattern[] = "/tmp/ulvaren-ui-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            return made;
        folder = made.ownFolder = pattern;
    }
    const std::string path = folder + "/ulvaren-ui-" + std::to_string(::getpid()) + ".html";
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        made.remove();
        return made;
    }
    made.path = path;
    // The address holds only characters that need no escaping in HTML.
    const std::string page =
        "<!DOCTYPE html><meta charset=\"utf-8\"><title>ulvaren</title>"
        "<meta http-equiv=\"refresh\" content=\"0; url=" +
        address + "\"><p>Opening <a href=\"" + address + "\">ulvaren</a>…</p>\n";
    const bool written = ::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
    ::close(fd);
    if (!written)
        made.remove();
    return made;
}

// Starts xdg-open on `path` in a session of its own, not waited for: a
// grandchild, so no zombie is left behind.
void openInBrowser(const std::string& path) {
    const pid_t child = ::fork();
    if (child < 0)
        return;
    if (child == 0) {
        if (::fork() != 0)
            ::_exit(0);
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::execlp("xdg-open", "xdg-open", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

}  // namespace

int runWindow(const HostOptions& options, int port, bool openBrowser) {
    stopOnSignals();
    if (!options.registry.empty())
        ::setenv("ULVAREN_REGISTRY", absolutePath(options.registry).c_str(), 1);
    const std::string lockFile = lockPath();
    terbin::TBFileLock lock;
    const uint32_t locked = lock.acquire(TBString::fromBytes(lockFile));
    if (locked == terbin::TB_LOCK_HELD) {
        const std::string address = runningAddress(lockFile);
        if (address.empty()) {
            std::printf("ulvaren ui is starting for this registry already (process %d)\n",
                        static_cast<int>(lock.holder()));
        } else {
            std::printf("ulvaren ui runs for this registry already: %s\n", address.c_str());
        }
        return 0;
    }
    if (locked != 0)
        throw HostError{"cannot lock " + lockFile + ": " + std::strerror(errno)};

    HostSession session(options);
    // One turn of the user-interface thread, for the main loop and every
    // modal loop alike: a message, then each waiting call followed by the
    // work it queued.
    std::function<void()> step;
    WebDialogDriver dialogs([&] { step(); }, dialogIdleTimeout());
    const DialogsInstalled installed(dialogs);
    WebWindow window(dialogs);
    UiCalls<WebReply> calls(session.mainWindow(),
                            WebReply{503, R"({"message":"ulvaren ui is closing"})"});
    // View log shows the log in the page.
    theBaseApp.logViewer = [&](const TBString& commandLine) { window.logView().open(commandLine); };
    const LogViewerInstalled viewerInstalled;
    // Another process may import, edit or remove sets meanwhile: the
    // catalogue is read again when the registry says it changed, and when a
    // job ended (the job of a set removed elsewhere leaves no trace there).
    terbin::TBRegistryWatch registryWatch(terbin::TBHiveCurrentUser);
    auto lastLook = std::chrono::steady_clock::now();
    bool reloadDue = false;
    step = [&] {
        MSG message{};
        if (session.mainWindow().waitMessage(message, SignalCheckMs) &&
            message.message == WM_BACKUP_JOB_DONE) {
            window.onJobDone();
            reloadDue = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLook >= RegistryLookInterval) {
            lastLook = now;
            reloadDue = registryWatch.changed() || reloadDue;
        }
        // Not under an open dialog: the code behind it may hold sets of the
        // catalogue.
        if (reloadDue && !dialogs.isOpen()) {
            reloadDue = false;
            theBaseApp.reloadBackupSets();
            window.onCatalogueReloaded();
        }
        while (calls.drainOne()) dialogs.runQueued();
    };
    WebServer server(
        [&](const std::string& method, const std::string& name, const std::string& body) {
            dialogs.noteRequest();
            return calls.run([&, method, name, body] { return window.handle(method, name, body); });
        });
    std::string error;
    if (!server.bind(port, error))
        throw HostError{"cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + error};
    recordAddress(lockFile, server.address());

    const std::string tokenAddress = server.tokenAddress();
    std::printf("ulvaren ui: %s\n", tokenAddress.c_str());
    std::printf(
        "open that address in a browser (the token is good for one use); "
        "Ctrl-C stops every run and ends\n");
    std::fflush(stdout);
    ForwardingPage forwardingPage;
    if (openBrowser) {
        forwardingPage = writeForwardingPage(tokenAddress);
        if (forwardingPage.path.empty())
            std::fprintf(stderr, "ulvaren ui: could not start the browser; open the address\n");
        else
            openInBrowser(forwardingPage.path);
    }

    std::thread serving([&] { server.serve(); });
    server.waitUntilServing();
    bool stopping = false;
    while (!window.quitRequested()) {
        step();
        if (interruptRequested() && !stopping) {
            // As stop-all does, and every set's own stop for the one in a
            // script; the window keeps answering until the runs have ended.
            stopping = true;
            theBaseApp.runAllowed = false;
            for (BackupSet* set : theBaseApp.backupSets) {
                if (set)
                    set->stopRequested = true;
            }
            std::printf("stopping…\n");
            std::fflush(stdout);
        }
        if (stopping && theBaseApp.threadPool.getTotalJobCount() == 0)
            break;
    }
    calls.close();
    server.stop();
    serving.join();
    forwardingPage.remove();
    return interruptRequested() ? 130 : 0;
}
