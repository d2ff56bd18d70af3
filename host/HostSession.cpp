#include "host/HostSession.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/ULVConfig.h"
#include "base/ULVbase.h"
#include "foundation/TBFilename.h"
#include "foundation/TBRegistry.h"
#include "host/TerminalDialogDriver.h"
#include "mfc/DialogDriver.h"
#include "ui/BackupSetWizard.h"

using terbin::TBString;

std::string absolutePath(const std::string& path) {
    return terbin::TBFilename::absolute(TBString::fromBytes(path)).narrow();
}

namespace {

// The registry store is an SQLite file; anything else at its path is the
// user's and must be left alone.
void checkRegistryFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return;  // made on first write
        throw HostError{"registry " + path + ": " + std::strerror(errno)};
    }
    if (!S_ISREG(st.st_mode))
        throw HostError{"registry " + path + ": not a file"};
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        throw HostError{"registry " + path + ": " + std::strerror(errno)};
    char header[16] = {};
    const ssize_t n = ::read(fd, header, sizeof header);
    ::close(fd);
    if (n == 0)
        return;  // an empty file becomes a new store
    if (n != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, "SQLite format 3", sizeof header) != 0) {
        throw HostError{"registry " + path + ": not a registry store (left unchanged)"};
    }
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

std::string defaultTarget(const HostOptions& options) {
    if (!options.defaultTarget.empty())
        return absolutePath(options.defaultTarget);
    if (const char* env = std::getenv("ULVAREN_DEFAULT_TARGET"); env && *env) {
        return absolutePath(env);
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/Backups";
}

}  // namespace

HostSession::HostSession(const HostOptions& options) {
    if (!options.registry.empty()) {
        ::setenv("ULVAREN_REGISTRY", absolutePath(options.registry).c_str(), 1);
    }
    checkRegistryFile(terbin::tb_registry_storePath(terbin::TBHiveCurrentUser).narrow());

    theBaseApp.m_pMainWnd = &mainWindow_;
    if (!AfxWinInit())
        throw HostError{"the application could not be started"};
    theAppConfig.init(0);
    theBaseApp.computerFolderName = TBString::fromBytes(hostName());
    theBaseApp.defaultTargetFolder = theAppConfig.fix(TBString::fromBytes(defaultTarget(options)));
    theBaseApp.loadBackupSets();
}

HostSession::~HostSession() {
    if (driver_ && AfxGetDialogDriver() == driver_.get())
        AfxSetDialogDriver(nullptr);
    if (editor_ && theBaseApp.backupSetEditor == editor_.get())
        theBaseApp.backupSetEditor = nullptr;
    theBaseApp.shutdown();
    AfxWinTerm();
    theBaseApp.m_pMainWnd = nullptr;
}

void HostSession::showDialogsOnTerminal() {
    driver_ = std::make_unique<TerminalDialogDriver>(stdin, stdout);
    editor_ = std::make_unique<WizardEditor>();
    AfxSetDialogDriver(driver_.get());
    theBaseApp.backupSetEditor = editor_.get();
}

int findSetIndex(const std::string& word) {
    const auto& sets = theBaseApp.backupSets;
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos) {
        const long index = std::strtol(word.c_str(), nullptr, 10);
        return word.size() < 10 && index < sets.size() && sets[static_cast<int>(index)]
                   ? static_cast<int>(index)
                   : -1;
    }
    for (int i = 0; i < sets.size(); ++i) {
        if (sets[i] && sets[i]->backupName.equalsNoCase(TBString::fromBytes(word)))
            return i;
    }
    return -1;
}
