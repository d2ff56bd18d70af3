// What a set's newest log file says about its last run: the host keeps no
// state of its own between runs, and the log is the record the engine keeps.
#pragma once

#include <optional>
#include <string>

#include "backupset/BackupSet.h"

struct LastRun {
    std::string logPath;
    std::string started;  // time stamp of the run's first line
    std::string status;   // as the run's last line gives it
    int foldersScanned = 0;
    int filesCopied = 0;
    std::string bytesCopied;  // as logged ("1.5 MB")
    int filesUnchanged = 0;
    int filesSkipped = 0;
    int filesFailed = 0;
    int foldersFailed = 0;
};

// The last complete run recorded in the newest "backup-<name>…log" file of
// the set's top-level target; nothing when there is none.
std::optional<LastRun> findLastRun(const BackupSet& set);
