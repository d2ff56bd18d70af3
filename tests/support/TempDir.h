// A temporary folder for one test, removed with everything in it afterwards,
// and small helpers to build real trees inside it.
#pragma once

#include <cstdint>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Writes `contents` to `path`, creating missing parent folders.
void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
void makeDirs(const std::string& path);
// Whether there is an entry at `path`; a dangling link counts.
bool exists(const std::string& path);
// Sets the modification and access time of `path` (seconds, nanoseconds).
void setMtime(const std::string& path, int64_t seconds, long nanoseconds = 0);
