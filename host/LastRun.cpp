#include "host/LastRun.h"

#include <fstream>

#include "base/ULVbase.h"
#include "engine/BackupJob.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFileInfo;
using terbin::TBFolder;
using terbin::TBString;

namespace {

// Is `name` the log of `setName`: "backup-NAME.log", "backup-NAME-YYYYMMDD.log"
// or "backup-NAME-YYYYMMDD-HHMMSS.log"?
bool isLogOf(const std::string& name, const std::string& setName) {
    const std::string prefix = "backup-" + setName;
    if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 4)
        return false;
    if (name.compare(name.size() - 4, 4, ".log") != 0)
        return false;
    const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    auto digits = [&](size_t from, size_t count) {
        for (size_t i = from; i < from + count; ++i) {
            if (middle[i] < '0' || middle[i] > '9')
                return false;
        }
        return true;
    };
    if (middle.empty())
        return true;
    if (middle.size() == 9)
        return middle[0] == '-' && digits(1, 8);
    if (middle.size() == 16)
        return middle[0] == '-' && digits(1, 8) && middle[9] == '-' && digits(10, 6);
    return false;
}

// The message of a log line: after date, time, level and application name.
std::string messageOf(const std::string& line) {
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        pos = line.find(' ', pos);
        if (pos == std::string::npos)
            return {};
        ++pos;
    }
    std::string message = line.substr(pos);
    if (message.rfind("Ulvaren: ", 0) == 0)
        message.erase(0, 9);
    return message;
}

int leadingNumber(const std::string& text) {
    try {
        return std::stoi(text);
    } catch (...) {
        return 0;
    }
}

}  // namespace

std::optional<LastRun> findLastRun(const BackupSet& set) {
    const TBString top = BackupJob::topLevelTarget(set, theBaseApp);
    const std::string setName = set.backupName.narrow();
    TBFolder folder(top);
    if (!folder.isOpen())
        return std::nullopt;
    TBFileInfo info;
    TBString newest;
    TBFileInfo newestInfo;
    while (folder.read(info) == 0) {
        if (!info.isFile() || !isLogOf(info.getName().narrow(), setName))
            continue;
        if (newest.isEmpty() ||
            newestInfo.getLastModificationTime() < info.getLastModificationTime()) {
            newest = info.getName();
            newestInfo = info;
        }
    }
    if (newest.isEmpty())
        return std::nullopt;

    LastRun run;
    run.logPath = terbin::TBFilename::concatPaths(top, newest).narrow();
    std::ifstream in(run.logPath);
    std::string line;
    const std::string startLine = "backup set " + setName + " started";
    const std::string endPrefix = "backup set " + setName + " ended - ";
    LastRun current;
    bool complete = false;
    bool inRun = false;
    while (std::getline(in, line)) {
        const std::string message = messageOf(line);
        if (message == startLine) {
            current = LastRun{};
            current.logPath = run.logPath;
            current.started = line.substr(0, std::min<size_t>(line.size(), 19));
            inRun = true;
        } else if (inRun && message.rfind(endPrefix, 0) == 0) {
            current.status = message.substr(endPrefix.size());
        } else if (inRun && !current.status.empty()) {
            const size_t files = message.find(" file(s) ");
            const bool copiedLine = files != std::string::npos && message.size() > 7 &&
                                    message.compare(message.size() - 7, 7, " copied") == 0;
            if (copiedLine) {
                current.filesCopied = leadingNumber(message);
                current.bytesCopied = message.substr(files + 9, message.size() - 7 - files - 9);
            } else if (message.find(" folder(s) scanned") != std::string::npos) {
                current.foldersScanned = leadingNumber(message);
            } else if (message.find(" folder(s) failed") != std::string::npos) {
                current.foldersFailed = leadingNumber(message);
            } else if (message.find(" file(s) unchanged") != std::string::npos) {
                current.filesUnchanged = leadingNumber(message);
            } else if (message.find(" file(s) skipped") != std::string::npos) {
                current.filesSkipped = leadingNumber(message);
            } else if (message.find(" file(s) failed") != std::string::npos) {
                current.filesFailed = leadingNumber(message);
                run = current;  // the last summary line: this run is complete
                complete = true;
                inRun = false;
            }
        }
    }
    if (!complete && !current.status.empty()) {
        run = current;  // ended before its figures (Ready or Not Started)
        complete = true;
    }
    if (!complete)
        return std::nullopt;
    return run;
}
