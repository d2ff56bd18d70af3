// A point a shell script waits at until the test opens it, so a test can hold
// a backup run (in its pre-backup script, say) for exactly as long as it
// needs, and know when the run got there.
//
// The gate is a FIFO that the test holds open for writing from the start, so
// the script's open never blocks: the script marks its arrival, then reads
// one line, which opening the gate writes. Should the test end first, closing
// its end gives the script end-of-file: no script is left waiting.
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
        // Read and write, so the open does not wait for a reader; close on
        // exec, so no child keeps the gate's end open.
        if (::mkfifo(path_.c_str(), 0600) != 0 ||
            (fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC)) < 0) {
            throw std::runtime_error("cannot make the gate " + path_);
        }
    }
    ~ScriptGate() {
        open();
        ::close(fd_);
    }
    ScriptGate(const ScriptGate&) = delete;
    ScriptGate& operator=(const ScriptGate&) = delete;

    // Shell commands that mark the arrival and wait at the gate; without a
    // "<", so they can stand in XML text as they are.
    std::string shellCommand() const {
        return ": > \"" + path_ + ".reached\"; head -n 1 \"" + path_ + "\" > /dev/null";
    }
    // Whether a script has got to the gate, waiting for it as eventually() does.
    bool waitUntilReached() const {
        return eventually([&] { return ::access((path_ + ".reached").c_str(), F_OK) == 0; });
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
