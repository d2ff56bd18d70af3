#include "engine/RunLog.h"

#include <cerrno>
#include <limits>
#include <string_view>

#include "foundation/TBFile.h"
#include "foundation/TBResult.h"

using terbin::TBFile;
using terbin::TBLog;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

constexpr const wchar_t* FilePrefix = L"backup-";
constexpr const wchar_t* FileSuffix = L".log";

// The lines of a run's start, end and figures.
constexpr char StartedLine[] = "backup set %s started";
constexpr char EndedLine[] = "backup set %s ended - %s";
constexpr char FoldersScannedLine[] = "  %d folder(s) scanned";
constexpr char FoldersFailedLine[] = "  %d folder(s) failed";
constexpr char FilesCopiedLine[] = "  %d file(s) %llk copied";
constexpr char FilesUnchangedLine[] = "  %d file(s) unchanged";
constexpr char FilesSkippedLine[] = "  %d file(s) skipped";
constexpr char FilesFailedLine[] = "  %d file(s) failed";

const char* trueOrFalse(int32_t flag) {
    return flag != 0 ? "true" : "false";
}

// The messages of the lines of a log file, in order, each passed to `take`.
// Lines are ended by '\n'; text after the last one counts as a line too.
template <typename Take>
bool forEachLine(const TBString& path, Take take) {
    std::string bytes;
    if (TBFile::readAll(path, bytes, std::numeric_limits<int64_t>::max()) != 0)
        return false;
    const std::string application = TBString(RunLog::ApplicationName).narrow();
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (const auto parsed = TBLog::parseLine(line, application))
            take(*parsed);
    }
    return true;
}

}  // namespace

TBString RunLog::fileName(const TBString& setName) {
    return FilePrefix + setName + FileSuffix;
}

TBString RunLog::fileName(const TBString& setName, const TBString& datedFolder) {
    return FilePrefix + setName + L"-" + datedFolder + FileSuffix;
}

void RunLog::writeTo(TBLog& log, const TBString& path) {
    log.setHandler(L"file:" + path + L";" + TBString::valueOf(MaxFileBytes) + L";" +
                   TBString::valueOf(KeptFiles));
    log.application(ApplicationName);
    if (terbin::TBLogMessageHandler* handler = log.getHandler())
        handler->level(FileLevels);
}

void RunLog::started(TBLog& log, const BackupSet& set, const TBString& topLevelTarget,
                     const TBString& finalTarget, bool showFolderCount) {
    log.info(StartedLine, set.backupName.narrow().c_str());
    log.info("  top level backup target = %s", topLevelTarget.narrow().c_str());
    log.info("  backup type %d (%s)", set.backupType, set.backupTypeName().narrow().c_str());
    log.info("  final backup target = %s", finalTarget.narrow().c_str());
    if (showFolderCount)
        log.info("  maximum backup subfolders = %d", set.backupFolderCount);
    log.info("  full path creation = %s", trueOrFalse(set.backupFullPath));
    for (const TBString& source : set.sourceFolders) {
        log.info("  source folder = %s", source.narrow().c_str());
    }
    for (const TBString& pattern : set.excludeFiles) {
        log.info("  exclude file = %s", pattern.narrow().c_str());
    }
    for (const TBString& pattern : set.excludeFolders) {
        log.info("  exclude folder = %s", pattern.narrow().c_str());
    }
}

void RunLog::noTarget(TBLog& log) {
    log.error("no backup target folder is set");
}

void RunLog::scriptStarting(TBLog& log, bool pre, const TBString& program, const TBString& args,
                            int32_t waitForCompletion, int32_t waitTimeout, int32_t waitTimeoutMs) {
    log.info(pre ? "  executing pre-backup script" : "  executing post-backup script");
    log.info("    program           = %s", program.narrow().c_str());
    log.info("    args              = %s", args.narrow().c_str());
    log.info("    waitForCompletion = %d", waitForCompletion);
    log.info("    waitTimeout\t      = %d", waitTimeout);
    log.info("    waitTimeoutMS     = %d", waitTimeoutMs);
}

void RunLog::scriptEnded(TBLog& log, bool pre, bool succeeded) {
    if (pre) {
        log.info(succeeded ? "  pre-backup script succeeded" : "  pre-backup script failed");
    } else {
        log.info(succeeded ? "  post-backup script SUCCEEDED" : "  post-backup script FAILED");
    }
}

void RunLog::scriptStopped(TBLog& log, bool pre) {
    log.info(pre ? "  stopped the pre-backup script" : "  stopped the post-backup script");
}

void RunLog::removingOldSubfolder(TBLog& log, const TBString& path) {
    log.info(" removing old backup subfolder %s", path.narrow().c_str());
}

void RunLog::copyingFolder(TBLog& log, const TBString& source) {
    log.info(" copy folder %s", source.narrow().c_str());
}

void RunLog::folderUnreadable(TBLog& log, const TBString& path) {
    log.info(" failed to open folder %s ", path.narrow().c_str());
}

void RunLog::folderLinkSkipped(TBLog& log, const TBString& path) {
    log.info(" skipped folder symlink %s ", path.narrow().c_str());
}

void RunLog::folderSkipped(TBLog& log, const TBString& path) {
    log.info(" skipped folder %s", path.narrow().c_str());
}

void RunLog::folderNotCreated(TBLog& log, const TBString& path, uint32_t result) {
    log.info(" failed to create folder %s - res = %d (0x%x)", path.narrow().c_str(),
             static_cast<int>(result), result);
}

void RunLog::sourceNotOpened(TBLog& log, const TBString& source, uint32_t error) {
    terbin::TBErrnoKeeper keeper;
    log.error("Can't open %s for reading - error=%d", source.narrow().c_str(),
              static_cast<int>(error));
}

void RunLog::targetNotOpened(TBLog& log, const TBString& target, uint32_t error) {
    terbin::TBErrnoKeeper keeper;
    log.error("Can't open %s for writing - error=%d", target.narrow().c_str(),
              static_cast<int>(error));
}

void RunLog::readFailed(TBLog& log, const TBString& source, int errnoValue) {
    terbin::TBErrnoKeeper keeper;
    log.error("Failed to read from %s - errno=%d", source.narrow().c_str(), errnoValue);
}

void RunLog::writeFailed(TBLog& log, const TBString& target, uint32_t error) {
    terbin::TBErrnoKeeper keeper;
    log.error("Failed to write to %s - error=%d", target.narrow().c_str(), static_cast<int>(error));
}

void RunLog::shortWrite(TBLog& log, const TBString& target, int64_t read, int64_t written) {
    terbin::TBErrnoKeeper keeper;
    log.error("Failed to write to suffcient data to %s - read %d, wrote %d",
              target.narrow().c_str(), static_cast<int>(read), static_cast<int>(written));
}

void RunLog::copyCancelled(TBLog& log, const TBString& target) {
    terbin::TBErrnoKeeper keeper;
    log.error("Copy to %s cancelled", target.narrow().c_str());
}

void RunLog::changedWhileCopied(TBLog& log, const TBString& source) {
    terbin::TBErrnoKeeper keeper;
    log.error("File %s changed while it was copied", source.narrow().c_str());
}

void RunLog::flushFailed(TBLog& log, const TBString& target, uint32_t error) {
    terbin::TBErrnoKeeper keeper;
    log.error("Failed to flush the backup in %s to its disk - error=%d", target.narrow().c_str(),
              static_cast<int>(error));
}

void RunLog::ended(TBLog& log, const BackupSet& set) {
    log.info(EndedLine, set.backupName.narrow().c_str(), set.getStatusString().narrow().c_str());
}

void RunLog::figures(TBLog& log, const BackupSet& set, const TBStringArray& failedFolders,
                     const TBStringArray& failedFiles) {
    log.info(FoldersScannedLine, set.foldersScanned.load());
    log.info("  %d folder(s) skipped", set.foldersSkipped.load());
    log.info(FoldersFailedLine, failedFolders.size());
    for (const TBString& path : failedFolders) log.info("    %s", path.narrow().c_str());
    log.info(FilesCopiedLine, set.filesCopied.load(),
             static_cast<long long>(set.bytesCopied.load()));
    log.info(FilesUnchangedLine, set.filesUnchanged.load());
    log.info(FilesSkippedLine, set.filesSkipped.load());
    log.info(FilesFailedLine, failedFiles.size());
    for (const TBString& path : failedFiles) log.info("    %s", path.narrow().c_str());
}

std::vector<std::string> RunLog::readMessages(const TBString& path) {
    std::vector<std::string> messages;
    forEachLine(path, [&](const TBLog::Line& line) { messages.push_back(line.message); });
    return messages;
}
