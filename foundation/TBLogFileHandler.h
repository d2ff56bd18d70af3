// The handler that TBLog::setHandler installs for "file:PATH;MAXBYTES;KEEP":
// appends each line to PATH and keeps the file within MAXBYTES by rotating it
// through PATH.1 … PATH.KEEP (see TBLog::setHandler for the whole contract).
#pragma once

#include <cstdint>
#include <string>

#include "foundation/TBLog.h"

namespace terbin {

class TBLogFileHandler final : public TBLogMessageHandler {
public:
    // MAXBYTES 0 means no limit; KEEP 0 empties PATH instead of rotating.
    TBLogFileHandler(std::string path, int64_t maxBytes, int keep);
    ~TBLogFileHandler() override;

    // Opens (creating, mode 0600) the file for appending; 0 or the errno of
    // the failure. write() tries again when the file is not open.
    int openFile();

    // Appends `line` and an end of line in one write, rotating first when the
    // line would take a non-empty file past the limit.
    void write(int level, const std::string& line) override;

private:
    std::string numbered(int n) const;
    bool exists(const std::string& path) const;
    void rotate();
    void closeFile();

    std::string path_;
    int64_t maxBytes_;
    int keep_;
    int fd_ = -1;
    // The file's size as counted since it was last measured; -1 unknown.
    static constexpr int MeasureEvery = 64;
    int64_t size_ = -1;
    int linesCounted_ = 0;
};

}  // namespace terbin
