// A point a shell script waits at until the test opens it, so that a test
// can hold a backup run (in its pre-backup script, say) for exactly as long
// as it needs, and know when the run got there.
//
// The gate is a FIFO. The script first creates a marker file next to it,
// then reads one line from the FIFO; the test holds the FIFO open for
// writing from the start, so the script's open never blocks, and opening the
// gate writes that line. Closing the gate's end without writing (when the
// test fails early) gives the script end-of-file instead: no script is ever
// left waiting after the test.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "support/Eventually.h"

class ScriptGate {
public:
    // Makes the FIFO `path`; the script marks its arrival in `path` + ".reached".
    explicit ScriptGate(std::string path) : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed on " + path_);
        // Read and write, so the open does not wait for a reader; close on
        // exec, so no child keeps the gate's end open.
        fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0)
            throw std::runtime_error("cannot open " + path_);
    }
    ~ScriptGate() {
        open();
        ::close(fd_);
    }
    ScriptGate(const ScriptGate&) = delete;
    ScriptGate& operator=(const ScriptGate&) = delete;

    // Shell commands that mark the arrival and wait at the gate. No "<" in
    // them, so they can stand in XML text as they are.
    std::string shellCommand() const {
        return ": > \"" + path_ + ".reached\"; head -n 1 \"" + path_ + "\" > /dev/null";
    }
    // Whether a script has got to the gate, waiting for it as eventually() does.
    bool waitUntilReached() const {
        const std::string marker = path_ + ".reached";
        return eventually([&] { return ::access(marker.c_str(), F_OK) == 0; });
    }
    // Lets the waiting script (or the one yet to come) go on.
    void open() {
        if (!opened_)
            opened_ = ::write(fd_, "open\n", 5) == 5;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool opened_ = false;
};
