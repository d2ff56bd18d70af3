#include "engine/RunLog.h"

#include <cerrno>
#include <charconv>
#include <limits>
#include <string_view>

#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBResult.h"

using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBLog;
using terbin::TBString;
using terbin::TBStringArray;

namespace {

constexpr const wchar_t* FilePrefix = L"backup-";
constexpr const wchar_t* FileSuffix = L".log";

// The lines that readLastRun reads back. Their conversions are those that
// matches() knows.
constexpr char StartedLine[] = "backup set %s started";
constexpr char EndedLine[] = "backup set %s ended - %s";
constexpr char FoldersScannedLine[] = "  %d folder(s) scanned";
constexpr char FoldersFailedLine[] = "  %d folder(s) failed";
constexpr char FilesCopiedLine[] = "  %d file(s) %llk copied";
constexpr char FilesUnchangedLine[] = "  %d file(s) unchanged";
constexpr char FilesSkippedLine[] = "  %d file(s) skipped";
constexpr char FilesFailedLine[] = "  %d file(s) failed";

bool allDigits(const TBString& s, int from, int count) {
    for (int i = from; i < from + count; ++i) {
        if (s[i] < L'0' || s[i] > L'9')
            return false;
    }
    return true;
}

const char* trueOrFalse(int32_t flag) {
    return flag != 0 ? "true" : "false";
}

// Does `message` read as the printf format `format` would write it? Literal
// text must match exactly ("%%" is one '%'); "%d" matches an optionally
// signed run of digits, "%s" and "%llk" any text. The text of each
// conversion is appended to `fields`, which a failed match leaves as it was.
bool matches(std::string_view format, std::string_view message,
             std::vector<std::string_view>& fields) {
    const size_t given = fields.size();
    while (!format.empty()) {
        if (format.starts_with("%d")) {
            size_t end = !message.empty() && message[0] == '-' ? 1 : 0;
            const size_t digits = end;
            while (end < message.size() && message[end] >= '0' && message[end] <= '9') ++end;
            if (end == digits)
                break;
            fields.push_back(message.substr(0, end));
            format.remove_prefix(2);
            message.remove_prefix(end);
            continue;
        }
        const size_t text = format.starts_with("%s") ? 2 : format.starts_with("%llk") ? 4 : 0;
        if (text != 0) {
            // The shortest text after which the rest matches.
            format.remove_prefix(text);
            for (size_t length = 0; length <= message.size(); ++length) {
                fields.push_back(message.substr(0, length));
                if (matches(format, message.substr(length), fields))
                    return true;
                fields.pop_back();
            }
            break;
        }
        const size_t literal = format.starts_with("%%") ? 2 : 1;
        if (message.empty() || message[0] != format[literal - 1])
            break;
        format.remove_prefix(literal);
        message.remove_prefix(1);
    }
    if (format.empty() && message.empty())
        return true;
    fields.resize(given);
    return false;
}

// `format` with its first "%s" replaced by `name`, so that only a line of
// that name matches it.
std::string withName(std::string_view format, const std::string& name) {
    std::string escaped;
    for (char c : name) {
        escaped += c;
        if (c == '%')
            escaped += '%';
    }
    std::string bound(format);
    bound.replace(bound.find("%s"), 2, escaped);
    return bound;
}

// The number of a "%d" field; 0 when it does not fit an int.
int numberOf(std::string_view field) {
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() ? value : 0;
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

bool RunLog::isDatedFolderName(const TBString& name) {
    if (name.length() == 8)
        return allDigits(name, 0, 8);
    if (name.length() == 15)
        return allDigits(name, 0, 8) && name[8] == L'-' && allDigits(name, 9, 6);
    return false;
}

TBString RunLog::fileName(const TBString& setName) {
    return FilePrefix + setName + FileSuffix;
}

TBString RunLog::fileName(const TBString& setName, const TBString& datedFolder) {
    return FilePrefix + setName + L"-" + datedFolder + FileSuffix;
}

bool RunLog::isFileOf(const TBString& name, const TBString& setName) {
    if (name == fileName(setName))
        return true;
    const TBString head = FilePrefix + setName + L"-";
    const TBString tail = FileSuffix;
    if (name.length() < head.length() + tail.length() || !name.startsWith(head) ||
        !name.endsWith(tail)) {
        return false;
    }
    return isDatedFolderName(
        name.mid(head.length(), name.length() - head.length() - tail.length()));
}

TBString RunLog::newestFileOf(const TBString& folder, const TBString& setName) {
    TBFolder listing(folder);
    if (!listing.isOpen())
        return TBString();
    TBFileInfo info;
    TBFileInfo newest;
    bool found = false;
    while (listing.read(info) == 0) {
        if (!info.isFile() || !isFileOf(info.getName(), setName))
            continue;
        if (!found || newest.getLastModificationTime() < info.getLastModificationTime()) {
            newest = info;
            found = true;
        }
    }
    return found ? TBFilename::concatPaths(folder, newest.getName()) : TBString();
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

std::optional<RunLog::RecordedRun> RunLog::readLastRun(const TBString& path,
                                                       const TBString& setName) {
    // The log holds names escaped (see TBLog), and so the lines are matched.
    const std::string name = setName.escaped();
    const std::string startedLine = withName(StartedLine, name);
    const std::string endedLine = withName(EndedLine, name);
    std::optional<RecordedRun> last;
    RecordedRun current;
    bool inRun = false;
    std::vector<std::string_view> fields;
    const bool read = forEachLine(path, [&](const TBLog::Line& line) {
        const std::string_view message = line.message;
        fields.clear();
        if (matches(startedLine, message, fields)) {
            current = RecordedRun{};
            current.started = line.time;
            inRun = true;
        } else if (inRun && matches(endedLine, message, fields)) {
            current.status = std::string(fields[0]);
        } else if (inRun && !current.status.empty()) {
            // The figures, up to the count of failed files that ends them.
            if (matches(FilesCopiedLine, message, fields)) {
                current.filesCopied = numberOf(fields[0]);
                current.bytesCopied = std::string(fields[1]);
            } else if (matches(FoldersScannedLine, message, fields)) {
                current.foldersScanned = numberOf(fields[0]);
            } else if (matches(FoldersFailedLine, message, fields)) {
                current.foldersFailed = numberOf(fields[0]);
            } else if (matches(FilesUnchangedLine, message, fields)) {
                current.filesUnchanged = numberOf(fields[0]);
            } else if (matches(FilesSkippedLine, message, fields)) {
                current.filesSkipped = numberOf(fields[0]);
            } else if (matches(FilesFailedLine, message, fields)) {
                current.filesFailed = numberOf(fields[0]);
                last = current;
                inRun = false;
            }
        }
    });
    if (!read)
        return std::nullopt;
    // A run that ended Ready or Not Started logs no figures.
    if (!last && !current.status.empty())
        last = current;
    return last;
}

std::vector<std::string> RunLog::readMessages(const TBString& path) {
    std::vector<std::string> messages;
    forEachLine(path, [&](const TBLog::Line& line) { messages.push_back(line.message); });
    return messages;
}
