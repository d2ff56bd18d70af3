// Path text operations. Nothing here touches the file system.
#pragma once

#include "foundation/TBString.h"

namespace terbin {

class TBFilename {
public:
    // Path type 1 is the native form, type 2 the form with "/" separators;
    // both use "/" here.
    static constexpr int NativePath = 1;
    static constexpr int SlashPath = 2;

    // `folder` and `name` joined by exactly one "/" (either may be empty, in
    // which case the other is returned). `name` is not altered: a file name
    // may hold a backslash here.
    static TBString concatPaths(const TBString& folder, const TBString& name,
                                int pathType = SlashPath);
    // Everything before the last "/" ("." when there is none, "/" for a
    // top-level entry).
    static TBString dirname(const TBString& path);
    // The last component (a trailing "/" ignored).
    static TBString basename(const TBString& path);
    // Splits into dirname and basename.
    static void split(const TBString& path, TBString& folder, TBString& name);
    // Clean-up of a path a person typed: repeated "/" collapse, "."
    // components go, ".." after a named component cancels it, ".." that
    // cannot be resolved is kept, a trailing separator is dropped. "\" is
    // part of a name, never a separator.
    static TBString fix(const TBString& path, int pathType = SlashPath);
    // `path` made absolute against the current folder, then fixed.
    static TBString absolute(const TBString& path);
};

// True for the two entries every listing holds besides the real ones: "."
// (the folder itself) and ".." (its parent).
inline bool tb_file_isDotEntry(const TBString& name) {
    return name == L"." || name == L"..";
}

}  // namespace terbin
