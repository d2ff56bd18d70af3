#include "host/web/WebLogView.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/ULVbase.h"
#include "engine/RunLog.h"
#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBResult.h"
#include "host/LogViewer.h"

using nlohmann::json;
using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBString;

struct WebLogView::LogFile {
    std::string name;
    std::unique_ptr<TBFile> file;  // null: no file of this name
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t start = 0;  // offset of its first byte in the joined files
    int64_t size = 0;
};

namespace {

// Opening all files can race with a rotation; a few tries are plenty, since
// the log rotates only once per RunLog::MaxFileBytes written.
constexpr int SnapshotAttempts = 5;

WebReply reply(int status, const json& body) {
    return WebReply{status, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

WebReply problem(int status, const std::string& message) {
    return reply(status, json{{"message", message}});
}

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Where the character that covers `at` in `bytes` begins and ends: `at` and
// `at` itself unless `at` lies inside a well-formed multi-byte sequence.
// Bytes that form no sequence are characters of their own (each becomes
// one U+FFFD), so cutting next to them splits nothing.
std::pair<size_t, size_t> characterAround(const std::string& bytes, size_t at) {
    if (at >= bytes.size() || !isContinuation(static_cast<unsigned char>(bytes[at])))
        return {at, at};
    for (size_t back = 1; back <= 3 && back <= at; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[at - back]);
        if (isContinuation(byte))
            continue;
        const size_t length = static_cast<size_t>(terbin::utf8SequenceLength(byte));
        if (length <= back || at - back + length > bytes.size())
            return {at, at};
        for (size_t i = at - back + 1; i < at - back + length; ++i) {
            if (!isContinuation(static_cast<unsigned char>(bytes[i])))
                return {at, at};
        }
        return {at - back, at - back + length};
    }
    return {at, at};
}

// The names of the log at `path` and of the files rotation made of it,
// oldest first.
std::vector<std::string> fileNamesOldestFirst(const std::string& path) {
    std::vector<std::string> names;
    for (int part = RunLog::KeptFiles; part >= 1; --part)
        names.push_back(path + "." + std::to_string(part));
    names.push_back(path);
    return names;
}

}  // namespace

WebLogView::WebLogView() = default;
WebLogView::~WebLogView() = default;

void WebLogView::open(const TBString& commandLine) {
    const std::optional<std::string> path = logFileNamedIn(commandLine);
    if (!path)
        return;
    std::vector<LogFile> files;
    // Opening the files one after another is not one step: a rotation in
    // between would show one file twice and lose another. Once every name
    // still leads to the file opened under it, no rotation came between.
    for (int attempt = 1;; ++attempt) {
        if (!openFiles(*path, files))
            return;
        if (stillInPlace(files) || attempt == SnapshotAttempts)
            break;
    }
    std::erase_if(files, [](const LogFile& log) { return !log.file; });
    int64_t start = 0;
    for (LogFile& log : files) {
        log.start = start;
        start += log.size;
    }

    const std::lock_guard<std::mutex> guard(mutex_);
    files_ = std::move(files);
    const size_t slash = path->rfind('/');
    title_ = slash == std::string::npos ? *path : path->substr(slash + 1);
    ++serial_;
}

bool WebLogView::openFiles(const std::string& path, std::vector<LogFile>& files) {
    files.clear();
    for (const std::string& name : fileNamesOldestFirst(path)) {
        LogFile log{name, std::make_unique<TBFile>()};
        uint32_t result = log.file->open(TBString::fromBytes(name), TBFile::ReadMode);
        if (result == terbin::TB_FILE_NOT_FOUND && name != path) {
            log.file.reset();
            files.push_back(std::move(log));
            continue;
        }
        TBFileInfo info;
        if (result == 0)
            result = log.file->getInfo(info);
        if (result != 0) {
            theBaseApp.lastRefusal = L"the log " + TBString::fromBytes(name) +
                                     L" cannot be opened: " +
                                     TBString::fromBytes(std::strerror(errno));
            return false;
        }
        log.device = info.getDevice();
        log.inode = info.getInode();
        log.size = info.getSize();
        files.push_back(std::move(log));
    }
    return true;
}

bool WebLogView::stillInPlace(const std::vector<LogFile>& files) {
    for (const LogFile& log : files) {
        const TBFileInfo now(TBString::fromBytes(log.name));
        const bool same =
            log.file ? now.exists() && now.getDevice() == log.device && now.getInode() == log.inode
                     : !now.exists();
        if (!same)
            return false;
    }
    return true;
}

json WebLogView::describe() const {
    const std::lock_guard<std::mutex> guard(mutex_);
    if (files_.empty())
        return nullptr;
    return json{{"title", title_}, {"serial", serial_}, {"size", total()}};
}

WebReply WebLogView::handle(const std::string& body) {
    const json request = json::parse(body, nullptr, false);
    if (!request.is_object() || !request.contains("serial") ||
        !request["serial"].is_number_integer())
        return problem(400, "a request for the log needs its serial number");
    const std::lock_guard<std::mutex> guard(mutex_);
    if (files_.empty() || request["serial"].get<int64_t>() != serial_)
        return problem(409, "this log is no longer open: view it again");

    if (request.contains("close")) {
        if (request["close"] != true)
            return problem(400, "\"close\" must be true");
        files_.clear();
        return reply(200, json{{"closed", true}});
    }
    int64_t before = total();
    if (request.contains("before")) {
        const json& offset = request["before"];
        if (!offset.is_number_integer() || offset.get<int64_t>() < 0 ||
            offset.get<int64_t>() > before)
            return problem(400, "\"before\" must be an offset from 0 to " + std::to_string(before));
        before = offset.get<int64_t>();
    }
    Chunk chunk;
    std::string error;
    if (!chunkBefore(before, chunk, error))
        return problem(500, error);
    return reply(200, json{{"text", std::move(chunk.text)},
                           {"start", chunk.start},
                           {"end", chunk.end},
                           {"first", chunk.start == 0}});
}

bool WebLogView::chunkBefore(int64_t before, Chunk& chunk, std::string& error) {
    // The bytes read reach past both ends of the longest part: behind
    // `before` far enough to see whether it cuts a character; in front, far
    // enough for the end to move back over a character (3 bytes) and then to
    // see whether the earliest start begins a line or cuts a character (3
    // more).
    constexpr int64_t Margin = 8;
    const int64_t from = std::max<int64_t>(0, before - MaxChunkBytes - Margin);
    const int64_t to = std::min(total(), before + Margin);
    std::string bytes;
    if (!read(from, to, bytes, error))
        return false;
    const auto at = [from](int64_t offset) { return static_cast<size_t>(offset - from); };

    const int64_t end = from + static_cast<int64_t>(characterAround(bytes, at(before)).first);
    const int64_t earliest = std::max<int64_t>(0, end - MaxChunkBytes);
    int64_t start = earliest;
    while (start < end && start > 0 && bytes[at(start) - 1] != '\n' && !startsFile(start)) ++start;
    // No line begins in reach: the part ends one line that is longer than a
    // part, so it starts inside that line, on a character's first byte.
    if (start == end)
        start = from + static_cast<int64_t>(characterAround(bytes, at(earliest)).second);
    chunk.text = bytes.substr(at(start), static_cast<size_t>(end - start));
    chunk.start = start;
    chunk.end = end;
    return true;
}

bool WebLogView::read(int64_t from, int64_t to, std::string& bytes, std::string& error) {
    bytes.assign(static_cast<size_t>(to - from), '\0');
    for (LogFile& log : files_) {
        const int64_t begin = std::max(from, log.start);
        const int64_t stop = std::min(to, log.start + log.size);
        if (begin >= stop)
            continue;
        int64_t count = 0;
        uint32_t result = log.file->seek(begin - log.start);
        if (result == 0)
            result = log.file->read(bytes.data() + (begin - from), stop - begin, count);
        if (result != 0 || count != stop - begin) {
            error = "the log file " + log.name +
                    (result != 0 ? " cannot be read: " + std::string(std::strerror(errno))
                                 : " has been cut short since it was opened: view it again");
            return false;
        }
    }
    return true;
}

bool WebLogView::startsFile(int64_t offset) const {
    for (const LogFile& log : files_) {
        if (log.start == offset)
            return true;
    }
    return false;
}

int64_t WebLogView::total() const {
    return files_.empty() ? 0 : files_.back().start + files_.back().size;
}
