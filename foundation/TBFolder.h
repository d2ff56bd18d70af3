// Listing of one folder, and folder creation.
#pragma once

#include <dirent.h>

#include <cstdint>

#include "foundation/TBFileInfo.h"
#include "foundation/TBString.h"

namespace terbin {

class TBFolder {
public:
    // Opens a listing of `path`; isOpen() tells whether it could be read.
    explicit TBFolder(const TBString& path);
    virtual ~TBFolder();
    TBFolder(const TBFolder&) = delete;
    TBFolder& operator=(const TBFolder&) = delete;

    bool isOpen() const { return dir_ != nullptr; }
    const TBString& path() const { return path_; }
    // Fills `info` with the next entry ("." and ".." included) and returns 0;
    // non-zero at the end of the listing or on a read error. An entry that
    // vanishes between listing and query is passed over.
    virtual uint32_t read(TBFileInfo& info);

    // Creates `path` (with its missing parents when `parents` is true) as a
    // folder readable by its owner alone. 0 when it exists afterwards, else a
    // result code (112 when the volume is full).
    static uint32_t create(const TBString& path, bool parents = true);
    // Removes an empty folder; 0 or a result code (145 when it is not empty).
    static uint32_t remove(const TBString& path);

protected:
    uint32_t readNext(TBFileInfo& info);

private:
    TBString path_;
    DIR* dir_ = nullptr;
};

// A listing of the entries whose names match a wildcard pattern: "*" any run
// of characters, "?" one character, "[...]" one character of a set (ranges
// and a leading "!" or "^" to negate). Letter case does not count.
class TBFilteredFolder : public TBFolder {
public:
    TBFilteredFolder(const TBString& path, const TBString& pattern);
    uint32_t read(TBFileInfo& info) override;

    // Whether `name` matches `pattern` as described above.
    static bool matches(const TBString& pattern, const TBString& name);

private:
    TBString pattern_;
};

}  // namespace terbin
