// Record of one directory entry, made from a path or filled by a folder
// listing. Entries are classified without following them first: a symbolic
// link to a folder is a directory with isSymbolicLink(); a symbolic link to a
// file is a file (its target's size and times); a dangling link, FIFO, socket
// or device is neither file nor directory. A listed entry that could not be
// examined is neither either, with getError() saying why.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "foundation/TBString.h"
#include "foundation/TBTime.h"

namespace terbin {

class TBFileInfo {
public:
    // What a query asks the file system for. Every query gives the kind,
    // the identity (device and inode) and the mode; ChangeTest adds what the
    // change test compares, All the rest.
    enum class Fields : uint8_t { ChangeTest, All };

    TBFileInfo() = default;
    // Queries `path` now; an entry that does not exist gives a record that is
    // neither file nor directory, with exists() false.
    explicit TBFileInfo(const TBString& path);

    const TBString& getName() const { return name_; }
    int64_t getSize() const { return size_; }
    const TBTime& getLastModificationTime() const { return modified_; }
    const TBTime& getLastAccessTime() const { return accessed_; }
    // Birth time where the file system keeps one, else the modification time.
    const TBTime& getCreateTime() const { return created_; }
    bool exists() const { return exists_; }
    bool isFile() const { return kind_ == Kind::File; }
    bool isDirectory() const { return kind_ == Kind::Directory; }
    // Read-only means no owner-write permission.
    bool isReadOnly() const { return (mode_ & 0200) == 0; }
    bool isSymbolicLink() const { return symlink_; }
    // A folder that is the root of another mount than the folder listing it
    // (a mount point, a nested subvolume): it leads to another file system,
    // as a link would. Only a listing can tell.
    bool isReparsePoint() const { return reparse_; }
    // Non-zero when the entry was listed but could not be examined (the
    // result code of the failure); the record then knows only its name and
    // whether the listing called it a folder.
    uint32_t getError() const { return error_; }
    bool isListedAsFolder() const { return listedAsFolder_; }
    mode_t getMode() const { return mode_; }
    uid_t getOwner() const { return owner_; }
    gid_t getGroup() const { return group_; }
    bool nameEquals(const TBString& text) const { return name_ == text; }
    // Identity of the entry (of its target for a link): equal for two names
    // of the same folder.
    uint64_t getDevice() const { return device_; }
    uint64_t getInode() const { return inode_; }

    // Fills the record for `name` inside the folder open as `dirfd`. False
    // when the entry is gone (it vanished since it was listed); a query that
    // fails for any other reason returns true with getError() set. Used by
    // listings and, with an empty name, for the open handle itself.
    bool query(int dirfd, const char* name, const TBString& wideName, Fields fields = Fields::All);
    // Completes a listed record: a folder on another device than `device`
    // (the listing folder's) or at the root of a mount is a reparse point;
    // `listedAsFolder` is the listing's own word on the entry's kind.
    void setListedIn(uint64_t device, bool listedAsFolder);

    // True when `path` names an existing regular file / folder (links followed).
    static bool isFile(const TBString& path);
    static bool isFolder(const TBString& path);
    // The three times of `path`: creation, last access, last modification.
    // Returns 0 or a result code.
    static uint32_t getFileTimes(const TBString& path, TBTime& created, TBTime& accessed,
                                 TBTime& modified);
    // Sets the times in the order getFileTimes gives them. Creation cannot be
    // set here and is ignored; access and modification keep nanoseconds.
    static uint32_t setFileTimes(const TBString& path, const TBTime& created,
                                 const TBTime& accessed, const TBTime& modified);

private:
    enum class Kind : uint8_t { Other, File, Directory };
    bool fill(int dirfd, const char* path, Fields fields);

    TBString name_;
    int64_t size_ = 0;
    TBTime created_;
    TBTime accessed_;
    TBTime modified_;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    uint32_t error_ = 0;
    Kind kind_ = Kind::Other;
    bool symlink_ = false;
    bool exists_ = false;
    bool mountRoot_ = false;
    bool reparse_ = false;
    bool listedAsFolder_ = false;
};

}  // namespace terbin
