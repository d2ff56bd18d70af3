// An open file. Operations return 0 or a result code (TBResult.h); after a
// failure getLastError() gives that code and errno holds the system's value.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "foundation/TBFileInfo.h"
#include "foundation/TBString.h"

namespace terbin {

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
    // Record of the open file (its name left empty).
    uint32_t getInfo(TBFileInfo& info) const;
    // Sets access and modification time of the open file.
    uint32_t setTimes(const TBTime& accessed, const TBTime& modified);
    // Gives the open file the permission bits `mode` and, where the process
    // may, the owner and group. When the owner or group cannot be given, the
    // group and other bits are dropped, so the file is never readable by more
    // people than the original.
    uint32_t setOwnerAndMode(mode_t mode, uid_t owner, gid_t group);
    uint32_t getLastError() const { return lastError_; }
    void close();

    // Reads the whole file at `path` into `bytes` (to its real end, whatever
    // size it reports). 223 (too large) when it holds more than `maxBytes`.
    static uint32_t readAll(const TBString& path, std::string& bytes, int64_t maxBytes);
    // Deletes a file (or a symbolic link, not its target).
    static uint32_t remove(const TBString& path);

private:
    uint32_t fail(int error);

    int fd_ = -1;
    int64_t position_ = 0;
    uint32_t lastError_ = 0;
};

}  // namespace terbin
