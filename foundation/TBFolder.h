// Listing of one folder, and folder creation. A folder is open as a handle:
// a root by its path, once, and everything below it relative to its
// parent's handle, never through a link that was not asked for, so a link
// swapped in during a walk cannot send the walk elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/TBFileInfo.h"
#include "foundation/TBString.h"

namespace terbin {

// True when `device` holds a kernel pseudo file system (proc, sysfs,
// devtmpfs, cgroup and the like, known by their type in the mount table):
// nothing there is a file anybody keeps.
bool tb_file_isPseudoFileSystem(uint64_t device);

class TBFolder {
public:
    using Fields = TBFileInfo::Fields;

    // Opens a listing of `path`, following links on the way: a root.
    // isOpen() tells whether it could be read.
    explicit TBFolder(const TBString& path, Fields fields = Fields::All);
    // Opens the subfolder `entry` that a listing of `parent` gave, relative
    // to the parent's handle. A link is followed only when the entry is one
    // (a link to a folder that the caller chose to follow), and what opens
    // must be the very folder the listing examined (device and inode); else
    // the folder is not open and getError() says 5 (access denied), or 3
    // when a link or a file is there now.
    TBFolder(const TBFolder& parent, const TBFileInfo& entry, Fields fields = Fields::All);
    // Opens the subfolder called `name` of `parent`; a link or a file there
    // leaves it not open with getError() 3, nothing there with 2.
    TBFolder(const TBFolder& parent, const TBString& name, Fields fields = Fields::All);
    virtual ~TBFolder();
    TBFolder(const TBFolder&) = delete;
    TBFolder& operator=(const TBFolder&) = delete;

    // Whether the folder is open, to be listed.
    bool isOpen() const { return fd_ >= 0; }
    const TBString& path() const { return path_; }
    // The folder's handle, for operations relative to it; -1 when it did
    // not open.
    int handle() const { return fd_; }
    // Identity of the open folder.
    uint64_t getDevice() const { return device_; }
    uint64_t getInode() const { return inode_; }
    // Why the folder did not open, or why its listing ended early; 0 while
    // it is open and its listing has not failed.
    uint32_t getError() const { return error_; }
    // Fills `info` with the next entry ("." and ".." included) and returns 0;
    // non-zero at the end of the listing (2) or when reading the listing
    // fails part-way (getError() then says why). An entry that vanishes
    // between listing and query is passed over; one that cannot be examined
    // for another reason is given with its getError() set.
    virtual uint32_t read(TBFileInfo& info);
    // From now on read() passes over the entries the listing itself calls
    // folders, without examining them: for a caller that wants files only.
    void passOverFolders() { passOverFolders_ = true; }

    // Writes everything written so far to the file system that holds this
    // folder onto its storage. 0 or a result code.
    uint32_t flushFileSystem() const;
    // The id of the file system that holds this folder, as the kernel gives
    // it (most file systems derive it from their own uuid); 0 when unknown.
    uint64_t fileSystemId() const;

    // Creates the subfolder `name` of `parent`, readable by its owner alone.
    // 0, or a result code (183 when something of that name exists, 112 when
    // the volume is full).
    static uint32_t createIn(const TBFolder& parent, const TBString& name);
    // Removes the entry `name` of `parent`: an empty folder with `folder`,
    // else a file or link (never what a link points to). 0 or a result code.
    static uint32_t removeIn(const TBFolder& parent, const TBString& name, bool folder);

    // Creates `path` (with its missing parents when `parents` is true) as a
    // folder readable by its owner alone. 0 when it exists afterwards, else a
    // result code (112 when the volume is full).
    static uint32_t create(const TBString& path, bool parents = true);
    // Removes an empty folder; 0 or a result code (145 when it is not empty).
    static uint32_t remove(const TBString& path);

protected:
    uint32_t readNext(TBFileInfo& info);

private:
    // Takes over `fd` (an open folder, or -1 with errno set); with
    // `expected` set, only when it is that folder.
    void adopt(int fd, const TBFileInfo* expected);

    // Listing records are read in blocks; the block is let go at the end.
    static constexpr size_t BufferSize = 32768;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    size_t filled_ = 0;
    bool ended_ = false;
    bool passOverFolders_ = false;

    TBString path_;
    int fd_ = -1;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    uint32_t error_ = 0;
    Fields fields_;
};

// A listing of the entries whose names match a wildcard pattern: "*" any run
// of characters, "?" one character, "[...]" one character of a set (ranges
// and a leading "!" or "^" to negate). Letter case does not count.
class TBFilteredFolder : public TBFolder {
public:
    TBFilteredFolder(const TBString& path, const TBString& pattern);
    TBFilteredFolder(const TBFolder& parent, const TBFileInfo& entry, const TBString& pattern);
    uint32_t read(TBFileInfo& info) override;

    // Whether `name` matches `pattern` as described above.
    static bool matches(const TBString& pattern, const TBString& name);

private:
    TBString pattern_;
};

}  // namespace terbin
