// The log viewer of `ulvaren ui`: the log that View log names, shown in the
// page a part at a time, the newest end first.
//
// open() takes a snapshot. It opens the log and the older files that
// rotation made of it (NAME.1 up to NAME.<RunLog::KeptFiles>, the highest
// number the oldest) and keeps them open with their sizes at that moment, so
// a rotation, a removal or lines appended meanwhile change nothing that the
// page is shown; opening the log again shows what is new. Offsets count bytes
// over the files joined oldest first, and the page asks for the part before
// an offset: first before the end of the newest file, then before the start
// of each part it has, down to the start of the oldest file.
//
// Each open gets a new serial number, and a request must name the one shown:
// a page that still shows an earlier log is refused rather than answered
// from another file.
//
// Threads: any; the operations exclude one another.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "foundation/TBString.h"
#include "host/web/WebServer.h"

namespace terbin {
class TBFile;
}

class WebLogView {
public:
    // The most bytes of the log that one answer carries.
    static constexpr int64_t MaxChunkBytes = 64 * 1024;

    WebLogView();
    ~WebLogView();
    WebLogView(const WebLogView&) = delete;
    WebLogView& operator=(const WebLogView&) = delete;

    // Shows the log that `commandLine` names ("notepad " and its path in
    // double quotes, as View log hands it to theBaseApp.logViewer) in place
    // of the one shown before. A line that names no file, a log that cannot
    // be opened, or an older file of it that exists but cannot be opened
    // leaves the reason in theBaseApp.lastRefusal and what is shown as it was.
    void open(const terbin::TBString& commandLine);

    // For the page's state: {"title": the log's file name, "serial": N,
    // "size": the bytes of all its files} while a log is shown, else null.
    nlohmann::json describe() const;

    // POST /api/log. {"serial": N, "before": OFFSET} answers the part of the
    // log that ends at OFFSET (the end of the newest file when "before" is
    // absent): {"text": T, "start": S, "end": E, "first": whether S is the
    // start of the oldest file}. The part holds at most MaxChunkBytes, starts
    // at the start of a line unless one line alone is longer, and never cuts
    // a UTF-8 character in two (E falls short of an OFFSET inside one); bytes
    // that are not UTF-8 are shown as U+FFFD. {"serial": N, "close": true}
    // closes the log: {"closed": true}.
    // 400 for a malformed body or an offset outside the log, 409 when N is
    // not the serial of the log shown (or none is shown), 500 when a file can
    // no longer be read as it was at the snapshot; each with {"message": M}.
    WebReply handle(const std::string& body);

private:
    struct LogFile;
    struct Chunk {
        std::string text;
        int64_t start = 0;
        int64_t end = 0;
    };

    // Opens the files of the log at `path`, oldest first, an older file that
    // does not exist as an entry without a file. False, with the reason in
    // theBaseApp.lastRefusal, when the log or an older file that exists
    // cannot be opened.
    static bool openFiles(const std::string& path, std::vector<LogFile>& files);
    // Whether each name still leads to the file opened under it (or still to
    // nothing).
    static bool stillInPlace(const std::vector<LogFile>& files);
    // Reads the bytes [from, to) of the joined files into `bytes`; false, with
    // `error` saying why, when a file gives fewer than its snapshot size.
    bool read(int64_t from, int64_t to, std::string& bytes, std::string& error);
    // Whether `offset` is the start of one of the files.
    bool startsFile(int64_t offset) const;
    bool chunkBefore(int64_t before, Chunk& chunk, std::string& error);
    int64_t total() const;

    mutable std::mutex mutex_;
    // Oldest first; empty while no log is shown.
    std::vector<LogFile> files_;
    std::string title_;
    int64_t serial_ = 0;
};
