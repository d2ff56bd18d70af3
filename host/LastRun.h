// What a set's newest log file says about its last run: the host keeps no
// state of its own between runs, and the log is the record the engine keeps.
#pragma once

#include <optional>
#include <string>

#include "backupset/BackupSet.h"
#include "engine/RunLog.h"

struct LastRun : RunLog::RecordedRun {
    std::string logPath;
};

// The last complete run recorded in the newest log file of the set in its
// top-level target (see RunLog::readLastRun); nothing when there is none.
std::optional<LastRun> findLastRun(const BackupSet& set);
