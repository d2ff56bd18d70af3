// The run log of a backup set: the names of its files, the handler that
// writes them, the text of every line a run writes, and the reading of a
// log's messages back. The log is for people: what a run ended with is kept
// in the set's records (backupset/RunRecords.h), never read back from here.
//
// Each run appends to one file in the set's top-level target:
//     backup-NAME.log                   a set without dated subfolders
//     backup-NAME-YYYYMMDD.log          runs into the dated subfolder YYYYMMDD
//     backup-NAME-YYYYMMDD-HHMMSS.log   runs into YYYYMMDD-HHMMSS
// A run's lines, written through the job's TBLog: "backup set NAME started"
// and its settings, the script lines, one line per pruned subfolder, the
// folder-level lines of the copy, the file-level copy errors, and the summary
// from "backup set NAME ended - STATUS" to the count of failed files. The
// indentation is part of each text: none for the start, end and file-level
// lines, one blank for the folder-level lines of the copy and the pruning,
// two for settings, script and summary lines, four for the details under
// them. File-level lines are errors, every other line is info, but for the
// error that a set has no target.
//
// Every operation runs on the thread that uses the log; none keeps state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backupset/BackupSet.h"
#include "foundation/TBLog.h"
#include "foundation/TBString.h"
#include "foundation/TBStringArray.h"

class RunLog {
public:
    RunLog() = delete;

    // The application name in front of every message of a run log.
    static constexpr const wchar_t* ApplicationName = L"Ulvaren";
    // Once a line would take the file past MaxFileBytes, the file becomes
    // NAME.log.1 (NAME.log.1 becomes NAME.log.2, and so on up to
    // KeptFiles) and a new one is started.
    static constexpr int64_t MaxFileBytes = 10000000;
    static constexpr int KeptFiles = 2;
    // The file takes lines of every level.
    static constexpr int FileLevels =
        terbin::TBLog::Error | terbin::TBLog::Warning | terbin::TBLog::Info | terbin::TBLog::Debug;

    // --- Names

    // "backup-" + setName + ".log": the log of a set without dated subfolders.
    static terbin::TBString fileName(const terbin::TBString& setName);
    // "backup-" + setName + "-" + datedFolder + ".log": the log of the runs
    // into the dated subfolder `datedFolder`.
    static terbin::TBString fileName(const terbin::TBString& setName,
                                     const terbin::TBString& datedFolder);

    // --- Writing

    // Sends `log`'s lines to the file at `path` (appended; rotated as above)
    // with ApplicationName in front of each message, taking every level. A
    // file that cannot be opened is not reported: the lines then go to
    // whatever handlers `log` had before.
    static void writeTo(terbin::TBLog& log, const terbin::TBString& path);

    // The start of a run: "backup set NAME started", the top-level and final
    // targets, the backup type, the maximum number of subfolders (only with
    // `showFolderCount`), full path creation, and each source folder,
    // exclude-file and exclude-folder pattern of `set` in stored order.
    static void started(terbin::TBLog& log, const BackupSet& set,
                        const terbin::TBString& topLevelTarget, const terbin::TBString& finalTarget,
                        bool showFolderCount);
    // The error of a set that names no target and has no default target.
    static void noTarget(terbin::TBLog& log);

    // The pre-backup (`pre`) or post-backup script about to run, with its
    // program, arguments, wait flag, time-out flag and time-out.
    static void scriptStarting(terbin::TBLog& log, bool pre, const terbin::TBString& program,
                               const terbin::TBString& args, int32_t waitForCompletion,
                               int32_t waitTimeout, int32_t waitTimeoutMs);
    // The outcome of the pre-backup (`pre`) or post-backup script.
    static void scriptEnded(terbin::TBLog& log, bool pre, bool succeeded);
    // The waited-for script was ended because the run was stopped; written
    // before the script's failure line.
    static void scriptStopped(terbin::TBLog& log, bool pre);

    // A dated subfolder that pruning removes, with its log.
    static void removingOldSubfolder(terbin::TBLog& log, const terbin::TBString& path);

    // Folder-level lines of the copy: a source folder entered; a folder (of
    // either side) that cannot be listed; a folder link not followed; an
    // excluded folder (or the run's own target met inside a source); a
    // target folder that cannot be created, with the creation's result.
    static void copyingFolder(terbin::TBLog& log, const terbin::TBString& source);
    static void folderUnreadable(terbin::TBLog& log, const terbin::TBString& path);
    static void folderLinkSkipped(terbin::TBLog& log, const terbin::TBString& path);
    static void folderSkipped(terbin::TBLog& log, const terbin::TBString& path);
    static void folderNotCreated(terbin::TBLog& log, const terbin::TBString& path, uint32_t result);

    // File-level errors of the copy, each naming the file concerned and the
    // error code or errno of the failure. Each leaves errno as it found it,
    // so the caller can still return it.
    static void sourceNotOpened(terbin::TBLog& log, const terbin::TBString& source, uint32_t error);
    static void targetNotOpened(terbin::TBLog& log, const terbin::TBString& target, uint32_t error);
    static void readFailed(terbin::TBLog& log, const terbin::TBString& source, int errnoValue);
    static void writeFailed(terbin::TBLog& log, const terbin::TBString& target, uint32_t error);
    static void shortWrite(terbin::TBLog& log, const terbin::TBString& target, int64_t read,
                           int64_t written);
    static void copyCancelled(terbin::TBLog& log, const terbin::TBString& target);
    // A source file that changed during its copy and again during the copy
    // made once more.
    static void changedWhileCopied(terbin::TBLog& log, const terbin::TBString& source);
    // The copies of a run could not be flushed to the disk of `target`.
    static void flushFailed(terbin::TBLog& log, const terbin::TBString& target, uint32_t error);

    // "backup set NAME ended - STATUS", with the set's status text.
    static void ended(terbin::TBLog& log, const BackupSet& set);
    // The run's figures: folders scanned, skipped and failed (each failed
    // folder below), files copied with the byte total, unchanged, skipped and
    // failed (each failed file below). The failure lists are passed in, taken
    // by the caller under the set's lock; the counters are read from `set`.
    static void figures(terbin::TBLog& log, const BackupSet& set,
                        const terbin::TBStringArray& failedFolders,
                        const terbin::TBStringArray& failedFiles);

    // --- Reading

    // The messages of the log file at `path`, one per line, without the time
    // stamp, level and application name in front of each; lines of another
    // layout are left out. Empty when the file cannot be read.
    static std::vector<std::string> readMessages(const terbin::TBString& path);
};
