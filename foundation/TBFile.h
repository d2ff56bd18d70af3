// An open file. Operations return 0 or a result code (TBResult.h); after a
// failure getLastError() gives that code and errno holds the system's value.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "foundation/TBFileInfo.h"
#include "foundation/TBString.h"

namespace terbin {

class TBFolder;

class TBFile {
public:
    // Mode 0 reads. Mode 13 writes, creating the file (readable and writable
    // by its owner alone) or emptying it; an existing file that is read-only,
    // a symbolic link or not a regular file is refused (access denied).
    static constexpr int ReadMode = 0;
    static constexpr int WriteMode = 13;

    TBFile() = default;
    ~TBFile() { close(); }
    TBFile(const TBFile&) = delete;
    TBFile& operator=(const TBFile&) = delete;

    uint32_t open(const TBString& path, int mode);
    // Opens the entry `name` of the open `folder` for reading, relative to
    // the folder's handle. A symbolic link there is refused (access denied)
    // unless `followLink`; then it is followed once, and what it leads to
    // must not lie on a kernel pseudo file system (access denied). What opens
    // must be a regular file (else 87; 31 for a folder).
    uint32_t openIn(const TBFolder& folder, const TBString& name, bool followLink);
    // Creates the new file `name` in the open `folder` for writing, readable
    // and writable by its owner alone. 183 when an entry of that name exists
    // (a link included: it is never followed).
    uint32_t createIn(const TBFolder& folder, const TBString& name);
    bool isOpen() const { return fd_ >= 0; }
    // Reads until `size` bytes are in or the end of the file is reached;
    // `count` is 0 at the end of the file.
    uint32_t read(void* buffer, int64_t size, int64_t& count);
    // Writes all `count` bytes; `written` says how many went in. A failure
    // leaves the file as it was before the call, so the same bytes can be
    // written again. A write that stops making progress without an error
    // reports success with `written` short of `count` (errno EIO).
    uint32_t write(const void* buffer, int64_t count, int64_t& written);
    // Copies up to `count` bytes from the current position of `source` to the
    // current position of this file inside the kernel, without passing them
    // through a buffer of the process. `copied` may fall short of `count`
    // before the end of the source (some file systems report pseudo files as
    // empty), so a short count proves nothing: confirm the end with read().
    // A failure leaves both files as they were before the call; the result
    // is then the mapped error (also for file systems that cannot copy this
    // way, which the caller answers by reading and writing itself).
    uint32_t transferFrom(TBFile& source, int64_t count, int64_t& copied);
    // Moves the position where the next read or write starts to `offset`.
    uint32_t seek(int64_t offset);
    // Cuts the file off at `size` bytes, or extends it to `size` with a hole.
    // The position stays where it was.
    uint32_t setSize(int64_t size);
    // True for a regular file that had fewer bytes on disk than its size
    // said when it was opened for reading: one with holes (or one its file
    // system compresses).
    bool isSparse() const { return sparse_; }
    // The first stretch of data at or after `offset`, as [start, end): start
    // is -1 when only a hole follows up to the end of the file. A file system
    // that cannot tell holes from data gives the rest of the file as data
    // (end INT64_MAX). The position is left undefined: seek() before reading.
    uint32_t findData(int64_t offset, int64_t& start, int64_t& end);
    // Flushes the file's data and metadata to its storage.
    uint32_t sync();
    // Record of the open file (its name left empty); the query's result code
    // when the file could not be examined.
    uint32_t getInfo(TBFileInfo& info) const;
    // Sets access and modification time of the open file.
    uint32_t setTimes(const TBTime& accessed, const TBTime& modified);
    // Gives the open file the permission bits `mode` and, where the process
    // may, the owner and group. When the owner or group cannot be given, the
    // group and other bits are dropped, so the file is never readable by more
    // people than the original.
    uint32_t setOwnerAndMode(mode_t mode, uid_t owner, gid_t group);
    uint32_t getLastError() const { return lastError_; }
    // Closes the file; 0 or the result code of a failure that the system
    // reported only now (a write that could not reach its storage, say).
    // The file is closed either way.
    uint32_t close();

    // Reads the whole file at `path` into `bytes` (to its real end, whatever
    // size it reports). 223 (too large) when it holds more than `maxBytes`.
    static uint32_t readAll(const TBString& path, std::string& bytes, int64_t maxBytes);
    // Deletes a file (or a symbolic link, not its target).
    static uint32_t remove(const TBString& path);
    // Renames the entry `from` of the open `folder` to `to` in the same
    // folder, in one step: a file of that name is replaced, so the name
    // always stands for either the old or the new file. Write permission on
    // the replaced file is not needed; a folder there is not replaced.
    static uint32_t renameIn(const TBFolder& folder, const TBString& from, const TBString& to);
    // The same where nothing is called `to` yet; 183 (already exists) when
    // something is, which stays untouched.
    static uint32_t renameNewIn(const TBFolder& folder, const TBString& from, const TBString& to);

private:
    uint32_t fail(int error);
    // Keeps `fd`, just opened for reading, when it is a regular file (and,
    // with `realFileSystemOnly`, not on a kernel pseudo file system).
    uint32_t adoptForReading(int fd, bool realFileSystemOnly);

    int fd_ = -1;
    int64_t position_ = 0;
    uint32_t lastError_ = 0;
    bool sparse_ = false;
};

}  // namespace terbin
