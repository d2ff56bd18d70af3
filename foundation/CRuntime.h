// The runtime library's _chmod, as this system uses it: only the owner-write
// bit of `mode` matters. With it the file becomes writable by its owner;
// without it every write permission is removed. Symbolic links are left alone
// (their target is not changed through them). Returns 0, or -1 with errno set.
#pragma once

#include "foundation/TBString.h"

int _chmod(const terbin::TBString& path, int mode);
